#include "base/Version.h"

// Generated at build time; only this file is compiled again when the commit changes.
#include "q7_version_text.h"

const char kVersionText[] = Q7_VERSION_TEXT;
