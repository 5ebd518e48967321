#pragma once
// The phone tool's `stream` command: asks for a stream, receives it, acknowledges frames, and
// sends scripted requests and input at chosen frames. Prints one line per event.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/phone/client.hpp"
#include "wire/messages.hpp"

namespace mirravale::phone {

// A message sent once the given number of frames has arrived (0: right after the request).
struct StreamAction {
    std::uint64_t after = 0;
    wire::ClientMessage message;
};

struct StreamOptions {
    double seconds = 5;        // the longest the stream runs
    std::uint64_t frames = 0;  // ends after this many frames; 0: only the time ends it
    // Ends at the first frame after this many formats (a still screen sends few frames).
    std::uint64_t formats = 0;
    std::string out;  // the received video as an H.264 byte stream with start codes
    wire::client::StreamRequest request{0, 0, 0, 30, 0, wire::Codec::H264};
    bool ack = true;
    bool cursors = false;  // print the pointer reports
    std::vector<StreamAction> actions;
};

// The options after `stream`; an error text for a word it does not know or a bad number.
Result<StreamOptions> parse_stream_options(const std::vector<std::string>& words);

// How one message is printed when it is sent ("KeyframeRequest", "PointerRelative -1 0", ...).
std::string describe(const wire::ClientMessage& message);

// Runs the stream; prints its events and a summary line. The exit status of the tool.
int stream(Client& client, const StreamOptions& options);

}  // namespace mirravale::phone
