#pragma once
// A process-wide C library that must be initialised before its first use and terminated after
// its last one, and whose calls may not run on several threads at once (PortAudio is one). Every
// user holds a use: the first use initialises the library, the last one terminates it, so a
// library that probes the hardware holds nothing while no one plays, and a later use sees the
// devices present then. Two panels starting their sound together initialise it once.

#include <functional>
#include <mutex>

namespace audio {

class CCountedLibrary
{
public:
    struct Calls
    {
        std::function<bool()> initialize; // true when the library is ready
        std::function<void()> terminate;
    };

    explicit CCountedLibrary(Calls calls) : m_calls(std::move(calls)) {}
    CCountedLibrary(const CCountedLibrary&) = delete;
    CCountedLibrary& operator=(const CCountedLibrary&) = delete;

    // One more use, initialising the library for the first; false (and no use) when the
    // initialisation fails.
    bool Acquire();
    // Ends a use that Acquire gave; the last one terminates the library.
    void Release();
    int Users() const;

    // Held around every other call into the library.
    std::mutex& CallLock() { return m_lock; }

private:
    const Calls m_calls;
    mutable std::mutex m_lock; // guards m_users and every call into the library
    int m_users = 0;
};

// A use held for an object's lifetime.
class CLibraryUse
{
public:
    explicit CLibraryUse(CCountedLibrary& library) : m_library(library), m_ok(library.Acquire()) {}
    ~CLibraryUse()
    {
        if (m_ok)
            m_library.Release();
    }
    CLibraryUse(const CLibraryUse&) = delete;
    CLibraryUse& operator=(const CLibraryUse&) = delete;
    bool Ok() const { return m_ok; }

private:
    CCountedLibrary& m_library;
    const bool m_ok;
};

} // namespace audio
