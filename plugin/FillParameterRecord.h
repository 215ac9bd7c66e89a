// Sets up one parameter entry of a definition's holder.
#pragma once

#include <cstdint>

#include "sdk/VParameterRecord.h"

namespace KESU {

// The four texts, the id, and flag1 and flag2 of the value, which every
// definition sets or clears together; flag3 and the builder flag keep their
// defaults.
template <class ValueClass>
void FillParameterRecord(VParameterRecord<ValueClass>& record, const char* name, const char* displayName,
                         const char* description, const char* group, bool flag1And2, uint64_t id) {
    record.name = name;
    record.displayName = displayName;
    record.description = description;
    record.group = group;
    record.value.SetFlag1(flag1And2);
    record.value.SetFlag2(flag1And2);
    record.id = id;
}

}  // namespace KESU
