#include "platform/wholefile.h"
#include <sys/ioctl.h>
