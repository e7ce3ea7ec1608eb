#include "programming/flashprog.h"
#include "protocolswitch/switching.h"
#include "link/frames.h"
#include <QtCore/QString>
#include <sys/ioctl.h>
#include "flashprog.h"
