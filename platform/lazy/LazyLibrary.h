// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stand-ins that load a system library on their first call and forward to it, so that the
// `tessaril` tool does not pay for relocating a library most of its runs never call. Each user
// defines `library()` (its handle, opened once) before using TESSARIL_FORWARD.
#include <dlfcn.h>

namespace tessaril::lazy {

// The library's handle, opened once by the caller's static; null when it cannot be loaded.
inline void* open(const char* soname) {
    return dlopen(soname, RTLD_NOW | RTLD_LOCAL);
}

template <typename Function>
Function* bind(void* library, const char* name) {
    return library == nullptr ? nullptr : reinterpret_cast<Function*>(dlsym(library, name));
}

}  // namespace tessaril::lazy

// Each function finds its counterpart once; `failure` is what it returns without one.
#define TESSARIL_FORWARD(name, failure, ...)                                            \
    static auto* const real = ::tessaril::lazy::bind<decltype(name)>(library(), #name); \
    return real != nullptr ? real(__VA_ARGS__) : failure
