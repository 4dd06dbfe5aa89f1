// Minimal file reading and writing behind the library's file interfaces, over POSIX descriptors.
#include "kt_xml.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class CKT_PosixFileRead final : public IKT_FileRead
{
public:
    CKT_PosixFileRead(int fd, long long size) : m_nFd(fd), m_nSize(size) {}
    void Release() override { delete this; }
    long long GetSize() override { return m_nSize; }
    bool ReadBlock(void *buffer, long long offset, size_t size) override
    {
        if (offset < 0)
            return false;
        char *p = static_cast<char *>(buffer);
        while (size > 0) {
            const ssize_t n = pread(m_nFd, p, size, off_t(offset));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false; // error, or the file shrank under us
            p += n;
            offset += n;
            size -= size_t(n);
        }
        return true;
    }

private:
    ~CKT_PosixFileRead() override { close(m_nFd); }

    int m_nFd;
    long long m_nSize;
};

class CKT_PosixFileWrite final : public IKT_FileWrite
{
public:
    explicit CKT_PosixFileWrite(int fd) : m_nFd(fd) {}
    void Release() override { delete this; }
    bool WriteBlock(const void *data, size_t size) override
    {
        const char *p = static_cast<const char *>(data);
        while (size > 0) {
            const ssize_t n = write(m_nFd, p, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            p += n;
            size -= size_t(n);
        }
        return true;
    }

private:
    ~CKT_PosixFileWrite() override { close(m_nFd); }

    int m_nFd;
};

} // namespace

IKT_FileRead *KT_CreateFileRead(const char *path)
{
    if (!path)
        return nullptr;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    IKT_FileRead *pFile = new (std::nothrow) CKT_PosixFileRead(fd, (long long)st.st_size);
    if (!pFile)
        close(fd);
    return pFile;
}

IKT_FileWrite *KT_CreateFileWrite(const char *path)
{
    if (!path)
        return nullptr;
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    IKT_FileWrite *pFile = new (std::nothrow) CKT_PosixFileWrite(fd);
    if (!pFile)
        close(fd);
    return pFile;
}
