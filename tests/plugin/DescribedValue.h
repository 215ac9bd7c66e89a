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

// The value member of the host's class V read from the first AddParameter
// call named `name`; a default one, with a failure, when no call has that name
// or its image did not load as a V.
template <class V>
decltype(V::value) DescribedValueNamed(const FakeHost& host, const std::string& name) {
    for (const FakeCall& call : host.CallsOf("AddParameter"))
        if (!call.texts.empty() && call.texts[0] == name) {
            std::unique_ptr<V> value = DescribedValue<V>(call);
            return value ? value->value : decltype(V::value)();
        }
    ADD_FAILURE() << name << " was not described";
    return decltype(V::value)();
}

// "Operation firstText" per call, for comparing whole sequences.
inline std::vector<std::string> Trace(const FakeHost& host) {
    std::vector<std::string> trace;
    for (const FakeCall& call : host.Calls())
        trace.push_back(call.texts.empty() ? call.operation : call.operation + " " + call.texts[0]);
    return trace;
}

}  // namespace KESUTest
