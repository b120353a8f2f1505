#pragma once

#include <cstdint>

namespace sorel {

// The one file the program creates; /var/tmp because it lives on disk, unlike a tmpfs /tmp.
// c:\temp.txt is a name others use too, so what the deletion before the test may remove is
// decided by the file layer (see RecordFile::DeleteLeftover).
#ifdef _WIN32
inline constexpr char kTestFilePath[] = "c:\\temp.txt";
#else
inline constexpr char kTestFilePath[] = "/var/tmp/sorelcheck-temp.txt";
#endif

inline constexpr std::int64_t kRecordLength = 1024;
inline constexpr std::int32_t kRecordWritten = 716800;  // makes the file 700 MiB
inline constexpr std::size_t kRecordBufferSize = 512;

}  // namespace sorel
