// Row compression.
#include "convert/pdb/row_compression.h"

namespace vintrel {
namespace {

class PacketWriter {
public:
    explicit PacketWriter(std::vector<std::uint8_t>& out) : out_(out) {}

    void literal(const std::uint8_t* bytes, int count) {
        out_.push_back(static_cast<std::uint8_t>(count));
        out_.insert(out_.end(), bytes, bytes + count);
    }
    void repeat(std::uint8_t byte, int count) {
        out_.push_back(static_cast<std::uint8_t>(0x80 + count));
        out_.push_back(byte);
    }

private:
    std::vector<std::uint8_t>& out_;
};

}  // namespace

void compress_row(const std::uint8_t* row, std::size_t length, std::vector<std::uint8_t>& out) {
    if (length == 0) return;
    PacketWriter packets(out);
    std::uint8_t pending[max_packet_length];
    int count = 0;
    bool repeating = false;
    std::uint8_t repeated = 0;

    for (std::size_t i = 0; i < length; i++) {
        const std::uint8_t byte = row[i];
        if (repeating) {
            if (byte == repeated && count < max_packet_length) {
                count++;
                continue;
            }
            // A different byte, or a full packet: the byte starts a new literal run.
            packets.repeat(repeated, count);
            pending[0] = byte;
            count = 1;
            repeating = false;
        } else if (count == 0) {
            pending[0] = byte;
            count = 1;
        } else if (byte != pending[count - 1]) {
            if (count == max_packet_length) {
                packets.literal(pending, count);
                count = 0;
            }
            pending[count++] = byte;
        } else {
            // Two equal neighbours: the pending bytes before them go out, the pair starts a repeat.
            count--;
            if (count > 0) packets.literal(pending, count);
            repeated = byte;
            count = 2;
            repeating = true;
        }
    }
    if (repeating)
        packets.repeat(repeated, count);
    else if (count > 0)
        packets.literal(pending, count);
}

}  // namespace vintrel
