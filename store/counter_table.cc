#include "store/counter_table.h"

#include <cstring>

#include "store/value_slot.h"

namespace vormel {

int CounterTable::FindCounter(const char* name) const {
  const char* cursor = names;
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(cursor, name) == 0) return i;
    cursor += nameLengths[i];
  }
  return -1;
}

int CounterTable::NamesUsed() const {
  int used = 0;
  for (int i = 0; i < count; ++i) used += nameLengths[i];
  return used;
}

bool CounterTable::Append(const char* name) {
  if (count >= kMaxCounters) return false;
  const int length = static_cast<int>(std::strlen(name));
  const int offset = NamesUsed();
  if (length == 0 || offset + length + 1 > kNamesCapacity) return false;
  std::memcpy(names + offset, name, static_cast<std::size_t>(length) + 1);
  nameLengths[count] = length + 1;
  StoreValue(values[count], 0);
  committedValues[count] = 0;
  ++count;
  return true;
}

void CounterTable::MarkDeleted(int index) {
  const char* cursor = names;
  for (int i = 0; i < index; ++i) cursor += nameLengths[i];
  names[cursor - names] = ' ';
  committedValues[index] = 0;
  StoreValue(values[index], 0);
}

}  // namespace vormel
