#pragma once

#include <QString>
#include <exception>

namespace vantorel {

// Every fault that is not a line result code travels as one exception type.
// The numbers are ours and stable: they appear in the "Flash Error" box.
enum class FaultCode : int {
    InvalidArgument = 5,
    Overflow = 6,
    Internal = 51,
    FileNotFound = 53,
    FileAccess = 75,
    PortOpen = 8002,
    PortLost = 8003,
    PortSettings = 8004,
    PortWrite = 8005,
    ImageUnsound = 8101,
};

class Fault : public std::exception {
public:
    Fault(FaultCode code, QString description);
    // A fault whose cause is known says that cause, not the code's generic
    // words: 'cause' reads as a phrase in a list ("the Time Out box holds ..."),
    // the description is the same with a capital.
    static Fault because(FaultCode code, const QString &cause);

    FaultCode code() const { return code_; }
    // The known cause as given to because(); empty for other faults.
    const QString &cause() const { return cause_; }
    // The words to put after a colon or in a list: the cause when known.
    const QString &phrase() const { return cause_.isEmpty() ? description_ : cause_; }
    int number() const { return static_cast<int>(code_); }
    const QString &description() const { return description_; }
    const char *what() const noexcept override { return what_.constData(); }

private:
    FaultCode code_;
    QString description_;
    QString cause_;
    QByteArray what_;
};

// The faults of the port itself (it cannot be opened, set, written or is
// lost): no step of an operation can carry on after one, and a front end
// reports them as the port's. The one list of that class.
bool isPortFault(FaultCode code);
inline bool isPortFault(int number) { return isPortFault(static_cast<FaultCode>(number)); }

// The default description of a code, for faults raised without a more precise one.
QString faultDescription(FaultCode code);

// "Error # " + number with a blank in the sign position + CR + description.
QString faultBoxText(const Fault &fault);

} // namespace vantorel
