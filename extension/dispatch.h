// Command selection and parameter binding: pure functions over the request text, which they
// cut in place (a cut writes a NUL over a separator). No state is shared between calls.
#pragma once

#include <cstddef>

#include "extension/command_table.h"

namespace vormel {

enum class DispatchResult {
  Ok = 0,
  BadParamCount = 2,
  CommandNotFound = 3,
  HandlerFailed = 4,
  NoStream = 5,
  BadParam = 8,
};

// Searches the table chain in order, names compared without regard to case. An empty or
// missing name matches nothing.
CommandEntry* FindCommand(const CommandTable* table, const char* name);

// Binds parameterText (may be null) to the declared parameters; on Ok, values[0..count) hold
// the decoded texts in declared order, pointing into parameterText.
DispatchResult BindParameters(char* parameterText, const ParamInfo& info, char delimiter,
                              char** values);

// Decodes '+' and %XX escapes in place and returns text.
char* DecodeValue(char* text);

}  // namespace vormel
