#pragma once

// The one place that speaks the system's own words for run-time libraries
// (dlopen/dlsym here; LoadLibrary/GetProcAddress is the same idea elsewhere).

#include <string>

namespace runlight::dynlib {

// Loads a library by file name. Returns null and fills `error` on failure.
void* open(const std::string& fileName, std::string& error);
// Looks up an exported symbol. Returns null and fills `error` if it is missing.
void* symbol(void* handle, const char* name, std::string& error);
void close(void* handle);

}  // namespace runlight::dynlib
