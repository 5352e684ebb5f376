#pragma once
// Byte streams the image holder decodes from and encodes to: a standard C file stream or a block
// of memory. The shape follows stdio: Read and Write move whole elements and return how many.

#include <cstddef>
#include <cstdint>
#include <cstdio>

class CImageFile
{
public:
    virtual ~CImageFile() = default;

    virtual bool Close() = 0;
    virtual size_t Read(void* buffer, size_t size, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t size, size_t count) = 0;
    // origin is SEEK_SET, SEEK_CUR or SEEK_END.
    virtual bool Seek(int64_t offset, int origin) = 0;
    virtual int64_t Tell() = 0;
    // Total length in bytes, or -1 when it can't be told.
    virtual int64_t Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual long Error() = 0;
    virtual bool PutC(unsigned char c);
    // The next byte, or EOF.
    virtual long GetC();
};

class CImageIOFile : public CImageFile
{
public:
    // A stream given here stays the caller's: it is never closed by this object.
    explicit CImageIOFile(FILE* stream = nullptr) : m_stream(stream) {}
    ~CImageIOFile() override;
    CImageIOFile(const CImageIOFile&) = delete;
    CImageIOFile& operator=(const CImageIOFile&) = delete;

    // Opens a file of its own (fopen modes); false when a stream is already held or fopen fails.
    bool Open(const char* path, const char* mode);
    // Closes the stream only when Open made it; a borrowed stream is just let go.
    bool Close() override;

    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(int64_t offset, int origin) override;
    int64_t Tell() override;
    int64_t Size() override;
    bool Flush() override;
    bool Eof() override;
    long Error() override;
    bool PutC(unsigned char c) override;
    long GetC() override;

private:
    FILE* m_stream;
    bool m_owned = false;
};

class CImageMemFile : public CImageFile
{
public:
    // Without a buffer the file owns one, which writes grow. Over a caller's buffer nothing is
    // copied and the size is fixed: a write stops at its end.
    CImageMemFile() = default;
    CImageMemFile(uint8_t* buffer, size_t size);
    // Read-only view: Write always returns 0.
    CImageMemFile(const uint8_t* buffer, size_t size);
    ~CImageMemFile() override;
    CImageMemFile(const CImageMemFile&) = delete;
    CImageMemFile& operator=(const CImageMemFile&) = delete;

    // Drops the contents (freeing an owned buffer) and starts over with an empty owned buffer.
    bool Close() override;

    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    // Positions past the end are allowed; reads there return 0 and a write there grows an owned
    // buffer, zero-filling the gap.
    bool Seek(int64_t offset, int origin) override;
    int64_t Tell() override { return static_cast<int64_t>(m_pos); }
    int64_t Size() override { return static_cast<int64_t>(m_size); }
    bool Flush() override { return true; }
    bool Eof() override { return m_pos >= m_size; }
    long Error() override { return 0; }
    bool PutC(unsigned char c) override;
    long GetC() override;

    // The buffer and its length. With detach, an owned buffer becomes the caller's (release it
    // with std::free) and this file starts over empty.
    uint8_t* GetBuffer(bool detach = true);

    // The unread rest of the buffer, for decoders that can work on memory in place.
    const uint8_t* Peek(size_t* available) const;

private:
    bool Reserve(size_t size);

    uint8_t* m_buffer = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0; // owned buffers only
    size_t m_pos = 0;
    bool m_owned = true;
    bool m_readOnly = false;
};
