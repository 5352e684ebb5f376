#pragma once
// Result codes in the shape of COM's HRESULT, so that the entry points report what a browser or a
// registration tool expects. Values are the standard ones.

#include <cstdint>

namespace component {

using HResult = int32_t;

inline constexpr HResult S_OK = 0;
inline constexpr HResult S_FALSE = 1;
inline constexpr HResult E_NOTIMPL = static_cast<HResult>(0x80004001u);
inline constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002u);
inline constexpr HResult E_POINTER = static_cast<HResult>(0x80004003u);
inline constexpr HResult E_FAIL = static_cast<HResult>(0x80004005u);
inline constexpr HResult E_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
inline constexpr HResult E_INVALIDARG = static_cast<HResult>(0x80070057u);
inline constexpr HResult DISP_E_MEMBERNOTFOUND = static_cast<HResult>(0x80020003u);
inline constexpr HResult DISP_E_UNKNOWNNAME = static_cast<HResult>(0x80020006u);
inline constexpr HResult CLASS_E_CLASSNOTAVAILABLE = static_cast<HResult>(0x80040111u);
inline constexpr HResult SELFREG_E_TYPELIB = static_cast<HResult>(0x80040200u);
inline constexpr HResult SELFREG_E_CLASS = static_cast<HResult>(0x80040201u);

constexpr bool Succeeded(HResult hr)
{
    return hr >= 0;
}
constexpr bool Failed(HResult hr)
{
    return hr < 0;
}

} // namespace component
