// A started thread running one routine on one argument. Join waits for its end; the owner must
// join before the argument goes away.
#pragma once

#include <memory>

namespace vormel {

class Thread {
 public:
  using Routine = void (*)(void* argument);

  Thread();
  ~Thread();  // joins a thread that is still joinable
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  bool Start(Routine routine, void* argument);  // false when the thread could not start
  bool Joinable() const;
  void Join();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vormel
