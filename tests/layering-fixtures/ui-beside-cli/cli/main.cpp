#include "ui/binding.h"
