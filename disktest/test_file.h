#pragma once

#include <cstdint>

namespace sorel {

// The one file the program creates. Its own name, so the deletion before the test can never
// remove somebody else's file; /var/tmp because it lives on disk, unlike a tmpfs /tmp.
#ifdef _WIN32
inline constexpr char kTestFilePath[] = "c:\\temp.txt";
#else
inline constexpr char kTestFilePath[] = "/var/tmp/sorelcheck-temp.txt";
#endif

inline constexpr std::int64_t kRecordLength = 1024;
inline constexpr std::int32_t kRecordWritten = 716800;  // makes the file 700 MiB
inline constexpr std::size_t kRecordBufferSize = 512;

}  // namespace sorel
