// The declarative table of commands a server answers. Each entry names its handler and
// declares its parameters as one text of blank-separated names; the ParamInfo built from that
// text on first use is published once (under the server's tableLock) and only read afterwards.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <utility>

namespace vormel {

class ExtensionServer;
struct RequestContext;

inline constexpr std::size_t kMaxParameters = 8;

struct ParamInfo {
  std::array<std::string_view, kMaxParameters> names{};
  std::size_t count = 0;
  std::size_t required = 0;  // every parameter is required: no defaults exist
};

// Splits a declaration into names; names beyond kMaxParameters are not allowed.
bool BuildParamInfo(const char* declaration, ParamInfo& info);

using CommandHandler = void (*)(ExtensionServer& server, RequestContext& context,
                                char* const* values);

struct CommandEntry {
  const char* name;
  CommandHandler handler;
  const char* declaration;
  // Published ParamInfo; `owned` keeps it until the table is destroyed at unload.
  std::atomic<const ParamInfo*> paramInfo{nullptr};
  std::unique_ptr<ParamInfo> owned{};
};

struct CommandTable {
  std::span<CommandEntry> commands;
  const CommandTable* next;  // searched after this one
};

constexpr std::size_t CountDeclaredNames(std::string_view declaration) {
  std::size_t count = 0;
  bool inName = false;
  for (char c : declaration) {
    bool blank = c == ' ';
    if (!blank && !inName) ++count;
    inName = !blank;
  }
  return count;
}

namespace detail {

template <typename Method>
struct HandlerTraits;

template <typename Server, typename... Texts>
struct HandlerTraits<void (Server::*)(RequestContext&, Texts...)> {
  using ServerType = Server;
  static constexpr std::size_t kArity = sizeof...(Texts);
};

template <auto Method, std::size_t... I>
void InvokeWith(ExtensionServer& server, RequestContext& context, char* const* values,
                std::index_sequence<I...>) {
  using Server = typename HandlerTraits<decltype(Method)>::ServerType;
  (static_cast<Server&>(server).*Method)(context, values[I]...);
}

}  // namespace detail

// Adapts a handler operation `void Server::Name(RequestContext&, const char*...)` to the table.
template <auto Method>
void InvokeHandler(ExtensionServer& server, RequestContext& context, char* const* values) {
  constexpr std::size_t kArity = detail::HandlerTraits<decltype(Method)>::kArity;
  detail::InvokeWith<Method>(server, context, values, std::make_index_sequence<kArity>{});
}

}  // namespace vormel

// One table row: the command's name, its handler operation and its parameter declaration.
// The declaration must name as many parameters as the handler takes texts.
#define VORMEL_COMMAND(Server, Name, Declaration)                               \
  vormel::CommandEntry {                                                        \
#Name, &vormel::InvokeHandler < &Server::Name>, Declaration, {nullptr }, {} \
  }
#define VORMEL_CHECK_COMMAND(Server, Name, Declaration)                             \
  static_assert(vormel::CountDeclaredNames(Declaration) ==                          \
                    vormel::detail::HandlerTraits<decltype(&Server::Name)>::kArity, \
                "declaration and handler of " #Name " disagree")
