#include "codec/image_file.h"

#include <cstdlib>
#include <cstring>
#include <limits>

bool CImageFile::PutC(unsigned char c)
{
    return Write(&c, 1, 1) == 1;
}

long CImageFile::GetC()
{
    unsigned char c;
    return Read(&c, 1, 1) == 1 ? c : EOF;
}

// --- CImageIOFile -------------------------------------------------------------------------------

CImageIOFile::~CImageIOFile()
{
    Close();
}

bool CImageIOFile::Open(const char* path, const char* mode)
{
    if (m_stream != nullptr || path == nullptr || mode == nullptr)
        return false;
    m_stream = std::fopen(path, mode);
    m_owned = m_stream != nullptr;
    return m_owned;
}

bool CImageIOFile::Close()
{
    bool ok = true;
    if (m_stream != nullptr && m_owned)
        ok = std::fclose(m_stream) == 0;
    m_stream = nullptr;
    m_owned = false;
    return ok;
}

size_t CImageIOFile::Read(void* buffer, size_t size, size_t count)
{
    return m_stream != nullptr ? std::fread(buffer, size, count, m_stream) : 0;
}

size_t CImageIOFile::Write(const void* buffer, size_t size, size_t count)
{
    return m_stream != nullptr ? std::fwrite(buffer, size, count, m_stream) : 0;
}

bool CImageIOFile::Seek(int64_t offset, int origin)
{
    if (m_stream == nullptr || offset < std::numeric_limits<long>::min() ||
        offset > std::numeric_limits<long>::max())
        return false;
    return std::fseek(m_stream, static_cast<long>(offset), origin) == 0;
}

int64_t CImageIOFile::Tell()
{
    return m_stream != nullptr ? std::ftell(m_stream) : -1;
}

int64_t CImageIOFile::Size()
{
    if (m_stream == nullptr)
        return -1;
    long here = std::ftell(m_stream);
    if (here < 0 || std::fseek(m_stream, 0, SEEK_END) != 0)
        return -1;
    long end = std::ftell(m_stream);
    std::fseek(m_stream, here, SEEK_SET);
    return end;
}

bool CImageIOFile::Flush()
{
    return m_stream != nullptr && std::fflush(m_stream) == 0;
}

bool CImageIOFile::Eof()
{
    return m_stream == nullptr || std::feof(m_stream) != 0;
}

long CImageIOFile::Error()
{
    return m_stream == nullptr ? 1 : std::ferror(m_stream);
}

bool CImageIOFile::PutC(unsigned char c)
{
    return m_stream != nullptr && std::fputc(c, m_stream) != EOF;
}

long CImageIOFile::GetC()
{
    return m_stream != nullptr ? std::fgetc(m_stream) : EOF;
}

// --- CImageMemFile ------------------------------------------------------------------------------

CImageMemFile::CImageMemFile(uint8_t* buffer, size_t size)
    : m_buffer(buffer), m_size(buffer != nullptr ? size : 0), m_owned(buffer == nullptr)
{
}

CImageMemFile::CImageMemFile(const uint8_t* buffer, size_t size)
    : CImageMemFile(const_cast<uint8_t*>(buffer), size)
{
    m_readOnly = buffer != nullptr;
}

CImageMemFile::~CImageMemFile()
{
    if (m_owned)
        std::free(m_buffer);
}

bool CImageMemFile::Close()
{
    if (m_owned)
        std::free(m_buffer);
    m_buffer = nullptr;
    m_size = m_capacity = m_pos = 0;
    m_owned = true;
    m_readOnly = false;
    return true;
}

size_t CImageMemFile::Read(void* buffer, size_t size, size_t count)
{
    if (size == 0 || count == 0 || m_pos >= m_size)
        return 0;
    size_t available = m_size - m_pos;
    // Whole elements only count, but the bytes of a last partial one are still handed over, as
    // fread does.
    size_t want = count > available / size ? available : size * count;
    std::memcpy(buffer, m_buffer + m_pos, want);
    m_pos += want;
    return want / size;
}

bool CImageMemFile::Reserve(size_t size)
{
    if (size <= m_capacity)
        return true;
    size_t capacity = m_capacity < 4096 ? 4096 : m_capacity;
    while (capacity < size)
        capacity = capacity > std::numeric_limits<size_t>::max() / 2 ? size : capacity * 2;
    auto* grown = static_cast<uint8_t*>(std::realloc(m_buffer, capacity));
    if (grown == nullptr)
        return false;
    m_buffer = grown;
    m_capacity = capacity;
    return true;
}

size_t CImageMemFile::Write(const void* buffer, size_t size, size_t count)
{
    if (m_readOnly || size == 0 || count == 0)
        return 0;
    if (count > std::numeric_limits<size_t>::max() / size)
        return 0;
    size_t bytes = size * count;
    if (m_owned) {
        if (bytes > std::numeric_limits<size_t>::max() - m_pos || !Reserve(m_pos + bytes))
            return 0;
        if (m_pos > m_size)
            std::memset(m_buffer + m_size, 0, m_pos - m_size);
    } else {
        if (m_pos >= m_size)
            return 0;
        size_t room = m_size - m_pos;
        if (bytes > room) {
            count = room / size;
            bytes = count * size;
        }
    }
    std::memcpy(m_buffer + m_pos, buffer, bytes);
    m_pos += bytes;
    if (m_pos > m_size)
        m_size = m_pos;
    return count;
}

bool CImageMemFile::Seek(int64_t offset, int origin)
{
    int64_t base;
    switch (origin) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = static_cast<int64_t>(m_pos);
        break;
    case SEEK_END:
        base = static_cast<int64_t>(m_size);
        break;
    default:
        return false;
    }
    if (offset < -base || (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset))
        return false;
    m_pos = static_cast<size_t>(base + offset);
    return true;
}

bool CImageMemFile::PutC(unsigned char c)
{
    return Write(&c, 1, 1) == 1;
}

long CImageMemFile::GetC()
{
    return m_pos < m_size ? m_buffer[m_pos++] : EOF;
}

uint8_t* CImageMemFile::GetBuffer(bool detach)
{
    uint8_t* buffer = m_buffer;
    if (detach && m_owned) {
        m_buffer = nullptr;
        m_size = m_capacity = m_pos = 0;
    }
    return buffer;
}

const uint8_t* CImageMemFile::Peek(size_t* available) const
{
    *available = m_pos < m_size ? m_size - m_pos : 0;
    return m_buffer + (m_pos < m_size ? m_pos : m_size);
}
