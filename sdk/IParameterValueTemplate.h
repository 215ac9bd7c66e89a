// The common body of every concrete parameter value: type tag, value, three
// flags, and the byte image writer and loader that all types share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/ByteReader.h"
#include "sdk/IParameterValue.h"

namespace ZentuDigitalDevice {

// How a value of type T is held. A bool is held as the byte the image carried:
// a loaded 02 must be written again as 02, which a C++ bool cannot hold.
template <typename T>
struct ParameterValueStorage {
    using Type = T;
    static Type Store(const T& v) { return v; }
    static T Load(const Type& stored) { return stored; }
};

template <>
struct ParameterValueStorage<bool> {
    using Type = uint8_t;
    static Type Store(bool v) { return v ? 1 : 0; }
    static bool Load(Type stored) { return stored != 0; }
};

// Instantiated for bool, double, unsigned int and std::string only.
template <typename T>
class IParameterValueTemplate : public IParameterValue {
public:
    uint32_t GetType() const override;
    bool SerialiseInto(IParameterValue& target) const override;
    // A refusal after the tag leaves the fields read before it loaded.
    bool LoadFromBytes(const unsigned char* data, uint32_t size) override;
    void SetFlag1(bool flag) override;
    bool GetFlag1() const override;
    void SetFlag2(bool flag) override;
    bool GetFlag2() const override;
    void SetFlag3(bool flag) override;
    bool GetFlag3() const override;

    virtual void SetValue(const T& newValue);
    virtual T GetValue() const;
    // Hooks for the data a type carries after the flags; the defaults carry none.
    virtual void AppendExtraBytes(std::vector<unsigned char>& image) const;
    virtual bool ReadExtraBytes(ByteReader& reader);

protected:
    explicit IParameterValueTemplate(uint32_t typeTag) : type(typeTag) {}
    // Only the concrete classes copy: copying through this base could give a
    // String the tag of an Enum, and the tag never changes after construction.
    IParameterValueTemplate(const IParameterValueTemplate&) = default;
    IParameterValueTemplate& operator=(const IParameterValueTemplate&) = default;
    IParameterValueTemplate(IParameterValueTemplate&&) = default;
    IParameterValueTemplate& operator=(IParameterValueTemplate&&) = default;

    // Tag, value and flags compared as held (the one-byte fields as bytes,
    // a double by IEEE 754 equality).
    bool CommonFieldsEqual(const IParameterValueTemplate& other) const;

    // Equals of every concrete class. The other value loads its image into a
    // default temporary of the concrete class, so any correct SerialiseInto
    // can be compared with, and a value of another tag is refused by the load.
    // extraFieldsEqual compares the fields that class adds with the temporary.
    template <class Concrete, class ExtraFieldsEqual>
    bool EqualsThroughImage(const IParameterValue& other, ExtraFieldsEqual extraFieldsEqual) const {
        Concrete loaded;
        return other.SerialiseInto(loaded) && CommonFieldsEqual(loaded) && extraFieldsEqual(loaded);
    }
    template <class Concrete>
    bool EqualsThroughImage(const IParameterValue& other) const {
        return EqualsThroughImage<Concrete>(other, [](const Concrete&) { return true; });
    }

    uint32_t type;
    typename ParameterValueStorage<T>::Type value{};
    uint8_t flag1 = 0;
    uint8_t flag2 = 0;
    uint8_t flag3 = 0;
};

extern template class IParameterValueTemplate<bool>;
extern template class IParameterValueTemplate<double>;
extern template class IParameterValueTemplate<unsigned int>;
extern template class IParameterValueTemplate<std::string>;

}  // namespace ZentuDigitalDevice
