// Speed and peak memory of building a tree with the base library's XML reader, side by side with
// libxml2 (xmlReadMemory building its DOM) and expat (building an equivalent tree whose text and
// attribute values are decoded to wchar_t, as ours are).
//
// "ours (arena allocator)" parses through a caller's bump allocator, which the reader supports so
// that a whole tree can live in one arena. Only building the tree is timed, not freeing it. Every
// run happens in a fresh child process, so each parser starts cold on a clean heap and its peak
// memory is the growth of the child's resident set while it parses and holds the tree.
//
// Usage: bench_xml [--size-mb N] [--runs N] [--real PATH] [--only 0..4] [--wall]
#include "kt_basic.h"

#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// ---- documents ----------------------------------------------------------------------------

struct Rng
{
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint32_t Next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 11);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

const char *const kTexts[] = {
    "Adds a faster rendering engine &amp; fixes printing of large forms.",
    "F\xC3\xBCgt eine schnellere Darstellung hinzu und behebt Druckfehler bei gro\xC3\x9F"
    "en Formularen.",
    "Ajoute un moteur de rendu plus rapide et corrige l\xE2\x80\x99impression des formulaires.",
    "\xE9\xAB\x98\xE9\x80\x9F\xE3\x81\xAA\xE3\x83\xAC\xE3\x83\xB3\xE3\x83\x80\xE3\x83\xAA\xE3"
    "\x83\xB3\xE3\x82\xB0\xE3\x82\xA8\xE3\x83\xB3\xE3\x82\xB8\xE3\x83\xB3\xE3\x82\x92\xE8\xBF"
    "\xBD\xE5\x8A\xA0\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x99\xE3\x80\x82",
    "\xE5\xA2\x9E\xE5\x8A\xA0\xE4\xBA\x86\xE6\x9B\xB4\xE5\xBF\xAB\xE7\x9A\x84\xE6\xB8\xB2\xE6"
    "\x9F\x93\xE5\xBC\x95\xE6\x93\x8E &lt;v2&gt;",
    "\xD0\x94\xD0\xBE\xD0\xB1\xD0\xB0\xD0\xB2\xD0\xBB\xD1\x8F\xD0\xB5\xD1\x82 \xD0\xB1\xD0\xBE"
    "\xD0\xBB\xD0\xB5\xD0\xB5 \xD0\xB1\xD1\x8B\xD1\x81\xD1\x82\xD1\x80\xD1\x8B\xD0\xB9 \xD0\xB4"
    "\xD0\xB2\xD0\xB8\xD0\xB6\xD0\xBE\xD0\xBA &#x2014; 9.2",
    "\xCE\xA0\xCF\x81\xCE\xBF\xCF\x83\xCE\xB8\xCE\xAD\xCF\x84\xCE\xB5\xCE\xB9 \xCF\x84\xCE\xB1"
    "\xCF\x87\xCF\x8D\xCF\x84\xCE\xB5\xCF\x81\xCE\xB7 \xCE\xBC\xCE\xB7\xCF\x87\xCE\xB1\xCE\xBD"
    "\xCE\xAE.",
    "\xD9\x8A\xD8\xB6\xD9\x8A\xD9\x81 \xD9\x85\xD8\xAD\xD8\xB1\xD9\x83 \xD8\xB9\xD8\xB1\xD8\xB6"
    " \xD8\xA3\xD8\xB3\xD8\xB1\xD8\xB9 &quot;Reader&quot;",
};
const char *const kAttrNames[] = {"name",    "version", "size",     "lang",     "type",
                                  "express", "force",   "osbit",    "minver",   "maxver",
                                  "md5",     "url",     "released", "restart",  "order",
                                  "channel", "arch",    "sig",      "priority", "region"};

// A catalogue-like document: modules with 10 to 20 attributes, multilingual descriptions,
// file lists and some entities.
std::string MakeCatalogue(size_t target)
{
    Rng rng;
    std::string doc = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                      "<modules product=\"Reader\" version=\"9.2.0\" platform=\"linux\">\n";
    char buf[256];
    int id = 0;
    while (doc.size() < target) {
        const int nAttrs = 10 + int(rng.Below(11));
        doc += "  <module";
        for (int a = 0; a < nAttrs; ++a) {
            switch (a) {
            case 0:
                snprintf(buf, sizeof buf, " name=\"Module-%d\"", id);
                break;
            case 11:
                snprintf(buf, sizeof buf,
                         " url=\"http://dl.example.com/pkg/m%d.fzip?src=updater&amp;ch=%u\"", id,
                         rng.Below(4));
                break;
            case 10:
                snprintf(buf, sizeof buf, " md5=\"%08x%08x%08x%08x\"", rng.Next(), rng.Next(),
                         rng.Next(), rng.Next());
                break;
            default:
                snprintf(buf, sizeof buf, " %s=\"%u.%u\"", kAttrNames[a], rng.Below(100),
                         rng.Below(100000));
                break;
            }
            doc += buf;
        }
        doc += ">\n";
        const int nDesc = 1 + int(rng.Below(3));
        for (int d = 0; d < nDesc; ++d) {
            doc += "    <description lang=\"";
            doc += char('a' + d);
            doc += "\">";
            doc += kTexts[rng.Below(sizeof kTexts / sizeof kTexts[0])];
            doc += "</description>\n";
        }
        snprintf(buf, sizeof buf,
                 "    <file path=\"bin/m%d.so\" size=\"%u\" crc=\"%08X\"/>\n"
                 "    <file path=\"share/m%d/notes &amp; readme.txt\" size=\"%u\" crc=\"%08X\"/>\n",
                 id, rng.Next() % 1000000, rng.Next(), id, rng.Next() % 10000, rng.Next());
        doc += buf;
        doc += "  </module>\n";
        ++id;
    }
    doc += "</modules>\n";
    return doc;
}

bool ReadFile(const char *path, std::string &out)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return false;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return true;
}

// The internal DTD subset is cut out: the library's reader treats "<!" before the root as a
// comment, so with it the three readers would not read the same document.
void DropDoctype(std::string &doc)
{
    const size_t start = doc.find("<!DOCTYPE");
    if (start == std::string::npos)
        return;
    size_t end = doc.find("]>", start);
    end = end == std::string::npos ? doc.find('>', start) : end + 2;
    if (end != std::string::npos)
        doc.erase(start, end - start);
}

// ---- the three tree builders --------------------------------------------------------------

int CountOurs(const CXML_Element *e)
{
    int n = 1;
    for (int i = 0; i < e->CountChildren(); ++i)
        if (const CXML_Element *c = e->GetElement(i))
            n += CountOurs(c);
    return n;
}

// The machine is shared, so by default the child's own CPU time (user and system, which
// includes the page faults of building the tree) is counted; --wall counts elapsed time instead.
clockid_t g_nClock = CLOCK_PROCESS_CPUTIME_ID;

double Now()
{
    timespec ts;
    clock_gettime(g_nClock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Each builder returns the element count and sets seconds to the time spent building the tree
// (counting and freeing it are not timed).
int BuildOurs(const std::string &doc, double &seconds)
{
    const double t0 = Now();
    CXML_Element *root = CXML_Element::Parse(doc.data(), unsigned(doc.size()), 0, nullptr, nullptr);
    seconds = Now() - t0;
    const int n = root ? CountOurs(root) : 0;
    delete root;
    return n;
}

// A bump arena behind the allocator record: the whole tree lives in a few large blocks and is
// dropped at once, as a caller may do with its own allocator.
struct Arena
{
    _IKT_Allocator base;
    std::vector<char *> blocks;
    char *cur = nullptr;
    size_t left = 0;

    static void *Alloc(_IKT_Allocator *a, size_t size)
    {
        Arena *self = reinterpret_cast<Arena *>(a);
        size = (size + 15) & ~size_t(15);
        if (size > self->left) {
            const size_t block = size > (1u << 20) ? size : (1u << 20);
            self->cur = static_cast<char *>(malloc(block));
            if (!self->cur)
                return nullptr;
            self->blocks.push_back(self->cur);
            self->left = block;
        }
        void *p = self->cur;
        self->cur += size;
        self->left -= size;
        return p;
    }
    static void *AllocDebug(_IKT_Allocator *a, size_t size, const char *, int)
    {
        return Alloc(a, size);
    }
    static void *Realloc(_IKT_Allocator *a, void *p, size_t size)
    {
        // Only growing arrays of trees built through the API reallocate; copy conservatively.
        void *q = Alloc(a, size);
        if (q && p)
            memcpy(q, p, size);
        return q;
    }
    static void *ReallocDebug(_IKT_Allocator *a, void *p, size_t size, const char *, int)
    {
        return Realloc(a, p, size);
    }
    static void Free(_IKT_Allocator *, void *) {}
    Arena() : base{&AllocDebug, &Alloc, &ReallocDebug, &Realloc, &Free} {}
    ~Arena()
    {
        for (char *b : blocks)
            free(b);
    }
};

int BuildOursArena(const std::string &doc, double &seconds)
{
    Arena *arena = new Arena;
    const double t0 = Now();
    CXML_Element *root =
        CXML_Element::Parse(doc.data(), unsigned(doc.size()), 0, nullptr, &arena->base);
    seconds = Now() - t0;
    const int n = root ? CountOurs(root) : 0;
    delete arena; // the tree goes with it
    return n;
}

int BuildOursFromFile(const std::string &path, double &seconds)
{
    const double t0 = Now();
    IKT_FileRead *file = KT_CreateFileRead(path.c_str());
    if (!file)
        return 0;
    CXML_Element *root = CXML_Element::Parse(file, 0, nullptr, nullptr);
    file->Release();
    seconds = Now() - t0;
    const int n = root ? CountOurs(root) : 0;
    delete root;
    return n;
}

// expat: a tree with the same content as ours, strings decoded to wchar_t.
struct XNode
{
    XNode *parent = nullptr;
    std::string tag;
    std::vector<std::pair<std::string, std::wstring>> attrs;
    std::vector<XNode *> elements; // children in order; text children are kept in texts
    std::vector<std::wstring *> texts;
    ~XNode()
    {
        for (XNode *c : elements)
            delete c;
        for (std::wstring *t : texts)
            delete t;
    }
};

void AppendDecoded(std::wstring &out, const char *s, size_t n)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    for (size_t i = 0; i < n;) {
        const unsigned char b = p[i];
        uint32_t c;
        int len;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if (b < 0xE0) {
            c = b & 0x1F;
            len = 2;
        } else if (b < 0xF0) {
            c = b & 0x0F;
            len = 3;
        } else {
            c = b & 0x07;
            len = 4;
        }
        for (int k = 1; k < len && i + size_t(k) < n; ++k)
            c = (c << 6) | (p[i + size_t(k)] & 0x3F);
        out += wchar_t(c);
        i += size_t(len);
    }
}

struct ExpatBuilder
{
    XNode *root = nullptr;
    XNode *current = nullptr;
    std::wstring text;

    void Flush()
    {
        if (current && !text.empty())
            current->texts.push_back(new std::wstring(text));
        text.clear();
    }
    static void Start(void *user, const XML_Char *name, const XML_Char **attrs)
    {
        ExpatBuilder *b = static_cast<ExpatBuilder *>(user);
        b->Flush();
        XNode *node = new XNode;
        node->tag = name;
        for (int i = 0; attrs[i]; i += 2) {
            std::wstring value;
            AppendDecoded(value, attrs[i + 1], strlen(attrs[i + 1]));
            node->attrs.emplace_back(attrs[i], std::move(value));
        }
        node->parent = b->current;
        if (b->current)
            b->current->elements.push_back(node);
        else
            b->root = node;
        b->current = node;
    }
    static void End(void *user, const XML_Char *)
    {
        ExpatBuilder *b = static_cast<ExpatBuilder *>(user);
        b->Flush();
        b->current = b->current->parent;
    }
    static void Chars(void *user, const XML_Char *s, int len)
    {
        AppendDecoded(static_cast<ExpatBuilder *>(user)->text, s, size_t(len));
    }
};

int CountExpat(const XNode *n)
{
    int count = 1;
    for (const XNode *c : n->elements)
        count += CountExpat(c);
    return count;
}

int BuildExpat(const std::string &doc, double &seconds)
{
    const double t0 = Now();
    ExpatBuilder builder;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &builder);
    XML_SetElementHandler(parser, &ExpatBuilder::Start, &ExpatBuilder::End);
    XML_SetCharacterDataHandler(parser, &ExpatBuilder::Chars);
    const bool ok = XML_Parse(parser, doc.data(), int(doc.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    seconds = Now() - t0;
    const int n = ok && builder.root ? CountExpat(builder.root) : 0;
    delete builder.root;
    return n;
}

int CountLibxml(xmlNodePtr n)
{
    int count = 0;
    for (; n; n = n->next)
        if (n->type == XML_ELEMENT_NODE)
            count += 1 + CountLibxml(n->children);
    return count;
}

int BuildLibxml(const std::string &doc, double &seconds)
{
    const double t0 = Now();
    xmlDocPtr d = xmlReadMemory(doc.data(), int(doc.size()), "bench.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_HUGE);
    seconds = Now() - t0;
    const int n = d ? CountLibxml(xmlDocGetRootElement(d)) : 0;
    xmlFreeDoc(d);
    return n;
}

// ---- measuring ----------------------------------------------------------------------------

long ReadStatusKb(const char *key)
{
    FILE *f = fopen("/proc/self/status", "r");
    if (!f)
        return 0;
    char line[256];
    long value = 0;
    const size_t keyLen = strlen(key);
    while (fgets(line, sizeof line, f))
        if (strncmp(line, key, keyLen) == 0)
            value = atol(line + keyLen);
    fclose(f);
    return value;
}

struct Result
{
    double seconds;
    long peakKb;
    int elements;
};

enum Parser
{
    Ours,
    OursFile,
    OursArena,
    Expat,
    Libxml,
    ParserCount
};
const char *const kParserNames[] = {"ours (memory)", "ours (file)", "ours (arena allocator)",
                                    "expat, wchar_t tree", "libxml2 DOM"};

// One cold run in a fresh child: parse, build, count, free.
Result RunOnce(Parser which, const std::string &doc, const std::string &path)
{
    int fds[2];
    Result r{0, 0, 0};
    if (pipe(fds) != 0)
        return r;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        // Restart the high-water mark at the current resident set.
        if (FILE *f = fopen("/proc/self/clear_refs", "w")) {
            fputs("5", f);
            fclose(f);
        }
        const long baseKb = ReadStatusKb("VmRSS:");
        double seconds = 0;
        int n = 0;
        switch (which) {
        case Ours:
            n = BuildOurs(doc, seconds);
            break;
        case OursFile:
            n = BuildOursFromFile(path, seconds);
            break;
        case OursArena:
            n = BuildOursArena(doc, seconds);
            break;
        case ParserCount:
            break;
        case Expat:
            n = BuildExpat(doc, seconds);
            break;
        case Libxml:
            n = BuildLibxml(doc, seconds);
            break;
        }
        Result out{seconds, ReadStatusKb("VmHWM:") - baseKb, n};
        if (write(fds[1], &out, sizeof out) != (ssize_t)sizeof out)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    if (read(fds[0], &r, sizeof r) != (ssize_t)sizeof r)
        r = Result{0, 0, 0};
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return r;
}

int g_nOnly = -1; // --only N: measure just one reader (for profiling)

void Measure(const char *title, const std::string &doc, int runs)
{
    char tmpl[] = "/tmp/bench_xml_XXXXXX";
    const int fd = mkstemp(tmpl);
    if (fd < 0 || write(fd, doc.data(), doc.size()) != (ssize_t)doc.size()) {
        fprintf(stderr, "cannot write the temporary copy\n");
        return;
    }
    close(fd);
    const double mb = double(doc.size()) / (1024.0 * 1024.0);
    // A small document parses in a few milliseconds: take more runs so that the best is not noise.
    if (mb < 10 && runs < 25)
        runs = 25;
    printf("\n%s: %.1f MB, best of %d cold runs each, %s time\n", title, mb, runs,
           g_nClock == CLOCK_MONOTONIC ? "elapsed" : "CPU");
    printf("  %-24s %10s %12s %10s\n", "reader", "MB/s", "peak MB", "elements");
    // Rounds interleave the readers, so that load from elsewhere on the machine spreads evenly.
    Result best[ParserCount];
    for (int p = 0; p < ParserCount; ++p)
        best[p] = Result{1e30, 0, 0};
    for (int i = 0; i < runs; ++i) {
        for (int p = 0; p < ParserCount; ++p) {
            if (g_nOnly >= 0 && p != g_nOnly)
                continue;
            const Result r = RunOnce(Parser(p), doc, tmpl);
            if (r.seconds > 0 && r.seconds < best[p].seconds)
                best[p].seconds = r.seconds;
            if (r.peakKb > best[p].peakKb)
                best[p].peakKb = r.peakKb;
            best[p].elements = r.elements;
        }
    }
    for (int p = 0; p < ParserCount; ++p)
        if (g_nOnly < 0 || p == g_nOnly)
            printf("  %-24s %10.1f %12.1f %10d\n", kParserNames[p], mb / best[p].seconds,
                   double(best[p].peakKb) / 1024.0, best[p].elements);
    unlink(tmpl);
    const double ours = mb / best[Ours].seconds;
    printf("  speed vs expat:   %.2fx  (target >= 1.00)\n", ours / (mb / best[Expat].seconds));
    printf("  speed vs libxml2: %.2fx  (target >= 2.00)\n", ours / (mb / best[Libxml].seconds));
    printf("  peak memory vs expat tree: %.2fx  (target <= 1.00)\n",
           double(best[Ours].peakKb) / double(best[Expat].peakKb ? best[Expat].peakKb : 1));
}

} // namespace

int main(int argc, char **argv)
{
    size_t sizeMb = 50;
    int runs = 5;
    const char *real = "/usr/share/mime/packages/freedesktop.org.xml";
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--wall")) {
            g_nClock = CLOCK_MONOTONIC;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (!strcmp(argv[i], "--size-mb"))
            sizeMb = size_t(atoi(argv[i + 1]));
        else if (!strcmp(argv[i], "--runs"))
            runs = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--only"))
            g_nOnly = atoi(argv[i + 1]);
        else if (!strcmp(argv[i], "--real"))
            real = argv[i + 1];
        ++i;
    }
    if (runs < 1)
        runs = 1;
    xmlInitParser();
    {
        const std::string catalogue = MakeCatalogue(sizeMb * 1024 * 1024);
        Measure("catalogue-like document", catalogue, runs);
    }
    std::string doc;
    if (ReadFile(real, doc)) {
        DropDoctype(doc);
        Measure(real, doc, runs);
    } else {
        printf("\n%s: not found, real-document run skipped\n", real);
    }
    xmlCleanupParser();
    return 0;
}
