#include "platform/settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

std::string RootName(SettingsRoot root)
{
    return root == SettingsRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_CLASSES_ROOT";
}

std::string FullPath(SettingsRoot root, std::string_view key)
{
    std::string p = RootName(root);
    while (!key.empty() && key.front() == '\\')
        key.remove_prefix(1);
    while (!key.empty() && key.back() == '\\')
        key.remove_suffix(1);
    if (!key.empty()) {
        p += '\\';
        p += key;
    }
    return p;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x += 32;
        if (y >= 'A' && y <= 'Z')
            y += 32;
        if (x != y)
            return false;
    }
    return true;
}

bool IsBelow(std::string_view path, std::string_view key)
{
    return path.size() > key.size() && path[key.size()] == '\\' &&
           EqualNoCase(path.substr(0, key.size()), key);
}

void AppendQuoted(std::string& out, std::string_view s)
{
    out += '"';
    for (char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    out += '"';
}

// Reads a quoted string at `pos`; leaves `pos` after the closing quote.
std::optional<std::string> ReadQuoted(std::string_view line, size_t& pos)
{
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\') {
            if (++pos >= line.size())
                return std::nullopt;
            char e = line[pos];
            out += e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> ParseHex32(std::string_view s)
{
    if (s.empty() || s.size() > 8)
        return std::nullopt;
    uint32_t v = 0;
    for (char c : s) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (d < 0)
            return std::nullopt;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    return v;
}

SettingsKey* FindKey(std::vector<SettingsKey>& keys, std::string_view path)
{
    for (SettingsKey& k : keys)
        if (EqualNoCase(k.path, path))
            return &k;
    return nullptr;
}

// One lock for the process; the lock file orders this process against others.
std::mutex& ProcessLock()
{
    static std::mutex m;
    return m;
}

std::optional<std::string> ReadFile(const std::filesystem::path& file)
{
    FILE* f = std::fopen(file.c_str(), "rb");
    if (!f)
        return errno == ENOENT ? std::optional<std::string>("") : std::nullopt;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    if (!ok)
        return std::nullopt;
    return text;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t off = 0;
    while (off < text.size()) {
        ssize_t w = ::write(fd, text.data() + off, text.size() - off);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        off += static_cast<size_t>(w);
    }
    return true;
}

} // namespace

std::vector<SettingsKey> ParseSettings(std::string_view text)
{
    std::vector<SettingsKey> keys;
    SettingsKey* current = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            current = nullptr;
            if (line.size() < 3 || line.back() != ']')
                continue;
            std::string path(line.substr(1, line.size() - 2));
            current = FindKey(keys, path);
            if (!current) {
                keys.push_back({std::move(path), {}});
                current = &keys.back();
            }
            continue;
        }
        if (!current)
            continue;
        // "name"=... or @=... for the default value.
        size_t pos = 0;
        std::string name;
        if (line.front() == '@') {
            pos = 1;
        } else {
            auto n = ReadQuoted(line, pos);
            if (!n)
                continue;
            name = std::move(*n);
        }
        if (pos >= line.size() || line[pos] != '=')
            continue;
        ++pos;
        std::optional<SettingValue> value;
        if (auto s = ReadQuoted(line, pos); s && pos == line.size()) {
            value = std::move(*s);
        } else if (line.substr(pos).starts_with("dword:")) {
            if (auto d = ParseHex32(line.substr(pos + 6)))
                value = *d;
        }
        if (!value)
            continue;
        auto& vals = current->values;
        auto it = std::find_if(vals.begin(), vals.end(),
                               [&](const auto& v) { return EqualNoCase(v.first, name); });
        if (it != vals.end())
            it->second = std::move(*value);
        else
            vals.emplace_back(std::move(name), std::move(*value));
    }
    return keys;
}

std::string FormatSettings(const std::vector<SettingsKey>& keys)
{
    std::string out = "; camctl settings: keys in brackets, text in quotes, numbers as dword:hex\n";
    for (const SettingsKey& k : keys) {
        out += "\n[" + k.path + "]\n";
        for (const auto& [name, value] : k.values) {
            if (name.empty())
                out += '@';
            else
                AppendQuoted(out, name);
            out += '=';
            if (const auto* s = std::get_if<std::string>(&value)) {
                AppendQuoted(out, *s);
            } else {
                char hex[16];
                std::snprintf(hex, sizeof hex, "dword:%08x", std::get<uint32_t>(value));
                out += hex;
            }
            out += '\n';
        }
    }
    return out;
}

SettingsStore::SettingsStore(std::filesystem::path file) : m_file(std::move(file)) {}

std::filesystem::path SettingsStore::DefaultPath()
{
    if (const char* f = std::getenv("CAMCTL_SETTINGS"); f && *f)
        return f;
    std::filesystem::path base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        base = x;
    else if (const char* h = std::getenv("HOME"); h && *h)
        base = std::filesystem::path(h) / ".config";
    else
        base = std::filesystem::temp_directory_path();
    return base / "camctl" / "settings.reg";
}

std::optional<SettingValue> SettingsStore::Get(SettingsRoot root, std::string_view key,
                                               std::string_view name) const
{
    auto text = ReadFile(m_file);
    if (!text)
        return std::nullopt;
    auto keys = ParseSettings(*text);
    SettingsKey* k = FindKey(keys, FullPath(root, key));
    if (!k)
        return std::nullopt;
    for (auto& [n, v] : k->values)
        if (EqualNoCase(n, name))
            return v;
    return std::nullopt;
}

std::optional<std::string> SettingsStore::GetString(SettingsRoot root, std::string_view key,
                                                    std::string_view name) const
{
    auto v = Get(root, key, name);
    if (!v || !std::holds_alternative<std::string>(*v))
        return std::nullopt;
    return std::get<std::string>(*v);
}

std::optional<uint32_t> SettingsStore::GetDword(SettingsRoot root, std::string_view key,
                                                std::string_view name) const
{
    auto v = Get(root, key, name);
    if (!v || !std::holds_alternative<uint32_t>(*v))
        return std::nullopt;
    return std::get<uint32_t>(*v);
}

bool SettingsStore::KeyExists(SettingsRoot root, std::string_view key) const
{
    auto text = ReadFile(m_file);
    if (!text)
        return false;
    std::string path = FullPath(root, key);
    for (const SettingsKey& k : ParseSettings(*text))
        if (EqualNoCase(k.path, path) || IsBelow(k.path, path))
            return true;
    return false;
}

template <class Edit>
bool SettingsStore::Change(Edit edit)
{
    std::lock_guard processLock(ProcessLock());
    std::error_code ec;
    std::filesystem::create_directories(m_file.parent_path(), ec);

    std::string lockName = m_file.string() + ".lock";
    int lockFd = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0)
        return false;
    while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
    }

    bool ok = false;
    if (auto text = ReadFile(m_file)) {
        auto keys = ParseSettings(*text);
        if (edit(keys)) {
            // One temporary name is enough: the lock file admits one writer at a time.
            std::string tmp = m_file.string() + ".tmp";
            int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ok = WriteAll(fd, FormatSettings(keys)) && ::fsync(fd) == 0;
                ok = ::close(fd) == 0 && ok;
                ok = ok && ::rename(tmp.c_str(), m_file.c_str()) == 0;
                if (!ok)
                    ::unlink(tmp.c_str());
            }
        }
    }
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    return ok;
}

bool SettingsStore::SetString(SettingsRoot root, std::string_view key, std::string_view name,
                              std::string_view value)
{
    return Change([&](std::vector<SettingsKey>& keys) {
        std::string path = FullPath(root, key);
        SettingsKey* k = FindKey(keys, path);
        if (!k) {
            keys.push_back({path, {}});
            k = &keys.back();
        }
        for (auto& [n, v] : k->values) {
            if (EqualNoCase(n, name)) {
                v = std::string(value);
                return true;
            }
        }
        k->values.emplace_back(std::string(name), std::string(value));
        return true;
    });
}

bool SettingsStore::SetDword(SettingsRoot root, std::string_view key, std::string_view name,
                             uint32_t value)
{
    return Change([&](std::vector<SettingsKey>& keys) {
        std::string path = FullPath(root, key);
        SettingsKey* k = FindKey(keys, path);
        if (!k) {
            keys.push_back({path, {}});
            k = &keys.back();
        }
        for (auto& [n, v] : k->values) {
            if (EqualNoCase(n, name)) {
                v = value;
                return true;
            }
        }
        k->values.emplace_back(std::string(name), value);
        return true;
    });
}

bool SettingsStore::DeleteValue(SettingsRoot root, std::string_view key, std::string_view name)
{
    return Change([&](std::vector<SettingsKey>& keys) {
        SettingsKey* k = FindKey(keys, FullPath(root, key));
        if (!k)
            return false;
        auto& vals = k->values;
        auto before = vals.size();
        std::erase_if(vals, [&](const auto& v) { return EqualNoCase(v.first, name); });
        return vals.size() != before;
    });
}

bool SettingsStore::DeleteKey(SettingsRoot root, std::string_view key)
{
    return Change([&](std::vector<SettingsKey>& keys) {
        std::string path = FullPath(root, key);
        auto before = keys.size();
        std::erase_if(keys, [&](const SettingsKey& k) {
            return EqualNoCase(k.path, path) || IsBelow(k.path, path);
        });
        return keys.size() != before;
    });
}

} // namespace platform
