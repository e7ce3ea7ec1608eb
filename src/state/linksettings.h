#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vantorel {

// What every exchange of a run works with, read from the window once by the
// check before the run's first byte, so the wire never parses a control.
struct LinkSettings {
    double timeOut = 1.0;      // seconds to wait for an answer's first byte
    bool fastAnswers = false;  // an answer is over as soon as it is whole
    bool prot4Plus = false;    // a byte sum is as good as a CRC
    bool knownSpeedsFirst = false; // a speed search starts at the controller's known speed
    int waitingDelayMs = 0;    // after each broadcast batch
    QByteArray protocolChar;   // the Protocol box as a character
    bool sameProtocol = false; // one character for every controller of the run:
    QByteArray runChar;        // this one, "@" once a controller needed it
};

// The Time Out text as seconds. Throws Fault(InvalidArgument) when not a number.
double timeOutSeconds(const QString &text1);


// The Speed list: the line speeds a technician chooses from.
const QStringList &speedList();

// The protocol character made from a Protocol text: the byte whose code is the
// text's value plus one. Throws Fault(InvalidArgument) when the text is not a
// number or gives a code outside 0..255.
QByteArray protocolCharFromText(const QString &protocolText);

} // namespace vantorel
