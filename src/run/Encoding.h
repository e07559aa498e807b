#pragma once
// The text conversions live in the access layer, which needs them for the file names in
// the client library's messages.
#include "db/Charset.h"
