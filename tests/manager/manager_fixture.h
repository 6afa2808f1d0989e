// A server object over a settings file of the test's own, in a fresh temporary directory, with
// a fixed creation date. Only one server object may exist at a time: Reload replaces it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "store/counter_extension.h"

namespace vormel::testing {

inline constexpr char kFixedDate[] = "2024/05/06";

class ManagerTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // Writes vormel.ini with `ini` and builds the server over it. The commit interval is an hour
  // unless the text sets one, so no commit pass runs during a test.
  void Start(const std::string& ini);
  // Destroys the server (its final commit pass runs) and loads it again from the file.
  void Reload();

  // The body that List, or a direct call of a page writer, leaves in a fresh stream.
  std::string ListPage(const char* pass);
  std::string CommandPage(const char* type, const char* name, const char* desc, const char* pass);

  // Every slot of the table in order as "name=value;", deleted ones with their leading blank.
  std::string Slots() const;
  // The keys of a section in file order as "key=value;".
  std::string Section(const char* section) const;
  std::string FileText() const;

  std::filesystem::path home_;
  std::unique_ptr<CounterExtension> server_;
};

// The message shown above the form, or "<auth>" for the authorization-failure page.
std::string MessageOf(const std::string& page);

}  // namespace vormel::testing
