// A scratch file for the fuzz targets that read files: one per process,
// rewritten for every input and removed when the process ends.
#pragma once

#include <string>
#include <string_view>

// The scratch file's path, after its contents have become `bytes`.
const std::string& ScratchFileWith(std::string_view bytes);
