#include "zephro/platform/ref.h"
