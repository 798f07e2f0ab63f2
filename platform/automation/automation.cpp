#include "platform/automation/automation.h"
