// Reads back, through the fake host's own values, what a definition handed
// to the builder.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/FakeHost.h"

namespace KESUTest {

// The value an AddParameter call carried, as the host's value of class V;
// null (with a failure) when the image did not load as one.
template <class V>
std::unique_ptr<V> DescribedValue(const FakeCall& call) {
    std::unique_ptr<FakeValue> value = FakeValue::FromImage(call.image);
    V* typed = dynamic_cast<V*>(value.get());
    EXPECT_NE(nullptr, typed) << "value of " << (call.texts.empty() ? "?" : call.texts[0]);
    if (typed == nullptr) return nullptr;
    value.release();
    return std::unique_ptr<V>(typed);
}

// "Operation firstText" per call, for comparing whole sequences.
inline std::vector<std::string> Trace(const FakeHost& host) {
    std::vector<std::string> trace;
    for (const FakeCall& call : host.Calls())
        trace.push_back(call.texts.empty() ? call.operation : call.operation + " " + call.texts[0]);
    return trace;
}

}  // namespace KESUTest
