#include "platform/fault.h"

namespace vantorel {

Fault::Fault(FaultCode code, QString description)
    : code_(code), description_(std::move(description)), what_(description_.toUtf8())
{
}

Fault Fault::because(FaultCode code, const QString &cause)
{
    Fault fault(code, cause.left(1).toUpper() + cause.mid(1));
    fault.cause_ = cause;
    return fault;
}

QString faultDescription(FaultCode code)
{
    switch (code) {
    case FaultCode::InvalidArgument: return QStringLiteral("Invalid procedure call or argument");
    case FaultCode::Overflow: return QStringLiteral("Overflow");
    case FaultCode::FileNotFound: return QStringLiteral("File not found");
    case FaultCode::FileAccess: return QStringLiteral("Path/File access error");
    case FaultCode::PortOpen: return QStringLiteral("The serial port cannot be opened");
    case FaultCode::PortLost: return QStringLiteral("The serial line was lost");
    case FaultCode::PortSettings: return QStringLiteral("Invalid serial port settings");
    case FaultCode::PortWrite: return QStringLiteral("Writing to the serial port failed");
    case FaultCode::ImageUnsound: return QStringLiteral("The HEX file cannot be downloaded");
    case FaultCode::Internal: return QStringLiteral("Internal error");
    }
    return QString();
}

QString faultBoxText(const Fault &fault)
{
    // Numbers print with a blank where a minus sign would stand.
    return QStringLiteral("Error # ") + QLatin1Char(' ') + QString::number(fault.number()) + QLatin1Char('\r')
        + fault.description();
}

bool isPortFault(FaultCode code)
{
    switch (code) {
    case FaultCode::PortOpen:
    case FaultCode::PortLost:
    case FaultCode::PortSettings:
    case FaultCode::PortWrite: return true;
    default: return false;
    }
}

} // namespace vantorel
