// The commands of the counter service, searched in this order, then the frame's own (empty)
// table. Constant-initialized, so the table exists before the server object is built.
#include "store/counter_extension.h"

namespace vormel {
namespace {

VORMEL_CHECK_COMMAND(CounterExtension, Counter, "p");
VORMEL_CHECK_COMMAND(CounterExtension, List, "pass");
VORMEL_CHECK_COMMAND(CounterExtension, Command, "type name desc pass");

constinit CommandEntry counterCommands[] = {
    VORMEL_COMMAND(CounterExtension, Counter, "p"),
    VORMEL_COMMAND(CounterExtension, List, "pass"),
    VORMEL_COMMAND(CounterExtension, Command, "type name desc pass"),
};

constinit const CommandTable frameCommands{{}, nullptr};
constinit const CommandTable commandTable{counterCommands, &frameCommands};

}  // namespace

const CommandTable* CounterExtension::GetCommandTable() const { return &commandTable; }

}  // namespace vormel
