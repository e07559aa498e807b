#pragma once
// Transfer of the macros: their keys are handed out anew by the destination and the
// device identifiers inside their texts are renumbered through the identifier maps.
#include "db/Side.h"
#include "run/Context.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {

// Reads every source macro, replaces the destination's macros by them and records the
// old and the new key of each in the MACROSES map (a key that could not be had: "-1").
// Statement errors, and a macro text that cannot be rewritten, are logged and the transfer
// goes on with the next macro; a lost connection ends the call with that error, unlogged,
// once the open units of work are ended. Returns the transfer's plan and its refused macros.
CopiedTable CopyMacros(Context& ctx, db::Side Src, db::Side Dst);

} // namespace kestrix::transfer
