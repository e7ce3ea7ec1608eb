#pragma once

namespace vantorel {

class Run;

enum class EraseResult {
    Erased,
    NotErased, // no valid answer
    Refused,   // answered, but refused three times
};

// Erases controller ctrl's flash ("t" 55 AA F0) and waits for "61", with the
// "@" rule and at most three refusals in a row. The check code follows
// "Prot 4+" unless 'crcOnly' (a boot program knows only the CRC).
EraseResult FlashErase(Run &run, int ctrl, bool crcOnly = false);

} // namespace vantorel
