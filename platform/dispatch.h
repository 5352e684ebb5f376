#pragma once
// Late-bound calls as a page's script makes them: methods looked up by name or id, arguments
// that are strings or integers, read as the method needs them.

#include <cctype>
#include <cstdlib>
#include <optional>
#include <string>
#include <variant>
#include <vector>

using DispatchArg = std::variant<std::string, long>;
using DispatchResult = std::variant<std::monostate, long, bool>;

struct DispatchEntry
{
    int id;
    const char* name;
    int argumentCount;
};

namespace platform {

// Argument i as text; a number is written out, a missing argument is empty.
inline std::string TextArg(const std::vector<DispatchArg>& args, size_t i)
{
    if (i >= args.size())
        return {};
    if (const auto* s = std::get_if<std::string>(&args[i]))
        return *s;
    return std::to_string(std::get<long>(args[i]));
}

// Argument i as a number; text is read as strtol does, a missing argument is 0.
inline long NumberArg(const std::vector<DispatchArg>& args, size_t i)
{
    if (i >= args.size())
        return 0;
    if (const auto* n = std::get_if<long>(&args[i]))
        return *n;
    return std::strtol(std::get<std::string>(args[i]).c_str(), nullptr, 10);
}

// The id of a method name, case-insensitive as scripting hosts look names up.
inline std::optional<int> DispatchIdOf(const std::vector<DispatchEntry>& table,
                                       const std::string& name)
{
    for (const DispatchEntry& e : table) {
        const std::string entry = e.name;
        if (entry.size() != name.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(entry[i])) ==
                   std::tolower(static_cast<unsigned char>(name[i]));
        if (same)
            return e.id;
    }
    return std::nullopt;
}

} // namespace platform
