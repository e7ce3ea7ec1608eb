#pragma once

namespace vantorel {

class Context;

// Erases controller ctrl's flash ("t" 55 AA F0) and waits for "61", with the
// "@" rule and at most three refusals in a row. True when erased. The check
// code follows "Prot 4+" unless 'crcOnly' (a boot program knows only the CRC).
bool FlashErase(Context &ctx, int ctrl, bool crcOnly = false);

} // namespace vantorel
