// Link-time replacement of a DLL import. Code compiled against the system
// headers calls an imported function through the pointer __imp__Name@Bytes;
// a test that defines that pointer, aimed at its own function, keeps the
// linker from taking the system's import, and the product code stays exactly
// as written. Bytes is the stdcall argument size; a wrong value is refused at
// compile time, since the real import would otherwise be linked unnoticed.
#pragma once

#include <cstddef>

template <typename Function>
struct StdcallArgumentBytes;

template <typename Result, typename... Arguments>
struct StdcallArgumentBytes<Result(__stdcall*)(Arguments...)> {
    static constexpr size_t value = (size_t{0} + ... + ((sizeof(Arguments) + 3) / 4 * 4));
};

#define FAKE_IMPORT(name, bytes, fake)                                                   \
    static_assert(StdcallArgumentBytes<decltype(&name)>::value == bytes,                 \
                  "stdcall argument bytes of " #name);                                   \
    decltype(&name) fakeImportOf_##name __asm__("__imp__" #name "@" #bytes) = fake
