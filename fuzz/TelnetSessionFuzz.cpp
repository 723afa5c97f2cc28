// The Telnet / COM-PORT-OPTION session with what a network serial port's server sends: any
// bytes, in any chunks. The data and the answers must not depend on where the chunks were cut,
// there is never more data than bytes received, and the answers are commands only.
//
// Input: pieces, each a length byte and its bytes, received one after the other.

#include <cstdio>
#include <cstdlib>

#include "comms/Rfc2217Session.h"
#include "fuzz/FuzzInput.h"

namespace {

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "telnet session: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput input(data, size);
    Rfc2217Session pieceByPiece;
    pieceByPiece.Start();
    ByteVec whole, pieceData, pieceReplies;
    while (!input.Empty()) {
        const ByteVec piece = input.Piece();
        pieceByPiece.Receive(piece.data(), piece.size(), pieceData, pieceReplies);
        whole.insert(whole.end(), piece.begin(), piece.end());
    }
    if (pieceData.size() > whole.size())
        Broken("more data than bytes received");

    Rfc2217Session atOnce;
    atOnce.Start();
    ByteVec wholeData, wholeReplies;
    atOnce.Receive(whole.data(), whole.size(), wholeData, wholeReplies);
    if (wholeData != pieceData || wholeReplies != pieceReplies)
        Broken("the result depends on where the stream was cut");
    if (atOnce.ServerBaudRate() != pieceByPiece.ServerBaudRate() ||
        atOnce.ComPortState() != pieceByPiece.ComPortState())
        Broken("the line state depends on where the stream was cut");

    TelnetDecoder check;
    ByteVec replyData;
    std::vector<TelnetEvent> replyEvents;
    check.Decode(pieceReplies.data(), pieceReplies.size(), replyData, replyEvents);
    if (!replyData.empty())
        Broken("an answer carries data");
    return 0;
}
