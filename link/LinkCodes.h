#pragma once
// The codes the link throws (as a bare int) when an exchange with the station
// does not end in an answer. The worker thread catches them once, at the top
// of its run, and passes them on unchanged: the window, rechannel-cli's lines
// and the ledger's "code" column show these very numbers, so the values never
// change.
namespace link_codes {
// No valid reply: nothing on the line, a wrong start byte, a reply cut short,
// a CRC mismatch, a reply of a length this request cannot get back; also a
// retried request whose attempts all ended without an answer.
constexpr int kNoReply = -1;
// The station answered with a non-zero status byte: it refused the request.
constexpr int kRefused = -2;
// The port failed under the link (the adapter pulled, a driver error): no
// retry can help, and no reply will come.
constexpr int kPortLost = -3;
// Identification: the station's version byte (RAM 0x0B00) is zero.
constexpr int kVersionZero = 6;
// Identification: the station's band type (RAM 0x0B01) does not fit its
// frequency range, or the range code is none of the five the plan knows.
constexpr int kBandMismatch = 7;

// Identification refused the station: its settings, and so the whole block
// read before them, came in.
constexpr bool fromIdentification(int code) { return code == kVersionZero || code == kBandMismatch; }
}
