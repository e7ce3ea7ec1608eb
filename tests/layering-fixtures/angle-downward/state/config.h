#include <platform/fault.h>
