#pragma once

namespace vantorel {

class Run;

// Switches controller i from protocol 3 to protocol 4 ("@" + i + "p400:4/");
// true when it accepted. Shows "send p4 OK!!!" on success.
bool SendP4(Run &run, int i);

// "3 -> 4" and "4 -> 3" pressed.
void Cmd3to4Click(Run &run);
void Cmd4to3Click(Run &run);

} // namespace vantorel
