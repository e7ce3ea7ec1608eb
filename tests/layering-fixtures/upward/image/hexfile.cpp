  #  include "run/waits.h"
