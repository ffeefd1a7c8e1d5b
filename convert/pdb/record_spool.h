// Frame records' compressed rows kept on disk while a conversion runs, so that memory does not
// grow with the movie's length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/pdb/frame_record.h"

namespace vintrel {

class RecordSpool {
public:
    RecordSpool() = default;
    ~RecordSpool();
    RecordSpool(const RecordSpool&) = delete;
    RecordSpool& operator=(const RecordSpool&) = delete;

    // Opens a temporary file without a name in `directory`, so that nothing stays behind on disk
    // however the program ends. Returns false, with errno set, when none can be made there.
    bool open(const std::string& directory);
    bool is_open() const { return fd_ >= 0; }

    // Appends the record's data to the spool and releases it from memory; the record remembers
    // where its data went. Returns false, with errno set, when the data cannot be written.
    bool store(FrameRecord& record);

    // The data of a record stored here. Returns false, with errno set, when the spool cannot be
    // read.
    bool load(const FrameRecord& record, std::vector<std::uint8_t>& data) const;

private:
    int fd_ = -1;
    std::uint64_t end_ = 0;
};

}  // namespace vintrel
