// Agreement with an independent reader: every fixture document must give the same tree as
// expat, read by tests/ktcrt/xml_expat_dump.py, which applies the reader's deliberate differences
// (comments, CDATA, white space) to what expat reports and lists them.
#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

namespace {

std::string RunExpat(const std::string &path)
{
    const std::string command = "python3 '" TEST_SOURCE_DIR "/tests/ktcrt/xml_expat_dump.py' '"
                                + path + "' 2>&1";
    std::string out;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe)
        return "(python3 did not start)";
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    if (pclose(pipe) != 0)
        out += "(python3 failed)";
    return out;
}

// expat turns tab, CR and LF in attribute values into spaces; the library keeps them.
std::string NormaliseAttributeSpace(std::string dump)
{
    bool inValue = false;
    for (size_t i = 0; i < dump.size(); ++i) {
        if (dump[i] == '\n') {
            inValue = false;
        } else if (dump[i] == '"') {
            inValue = !inValue;
        } else if (inValue && dump.compare(i, 4, "\\x{") == 0) {
            for (const char *code : {"\\x{9}", "\\x{A}", "\\x{D}"}) {
                if (dump.compare(i, strlen(code), code) == 0) {
                    dump.replace(i, strlen(code), " ");
                    break;
                }
            }
        }
    }
    return dump;
}

std::vector<std::string> Fixtures()
{
    std::vector<std::string> names;
    const std::string dir = TEST_DATA_DIR "/xml";
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0)
                names.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    return names;
}

TEST(XmlExpat, FixturesReadAsExpatReadsThem)
{
    const std::vector<std::string> files = Fixtures();
    ASSERT_GE(files.size(), 4u);
    for (const std::string &path : files) {
        SCOPED_TRACE(path);
        const std::string expat = RunExpat(path);
        // Through the file accessor and from memory alike.
        auto fromFile = xmltest::ParseFile(path);
        ASSERT_TRUE(fromFile);
        std::string bytes;
        if (FILE *f = fopen(path.c_str(), "rb")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0)
                bytes.append(buf, n);
            fclose(f);
        }
        auto fromMemory = xmltest::ParseText(bytes);
        EXPECT_EQ(expat, NormaliseAttributeSpace(xmltest::Dump(fromFile.get())));
        EXPECT_EQ(xmltest::Dump(fromFile.get()), xmltest::Dump(fromMemory.get()));
    }
}

} // namespace
