// The object a host operation hands back, and the holder the plug-in keeps it in.
#pragma once

namespace ZentuDigitalDevice {

// Reference-counted by the host; the plug-in never deletes one.
class IResult {
public:
    virtual const char* GetText() const = 0;
    virtual void AddRef() = 0;
    virtual void Release() = 0;

protected:
    ~IResult() = default;
};

// Holds one IResult*: empty means the operation succeeded. A copy adds a
// reference and destruction releases one, so a result is released exactly once
// however the holder travels (an exception passing through included).
class ResultPtr {
public:
    ResultPtr() noexcept = default;
    // Takes over the one reference the host handed out with the result.
    explicit ResultPtr(IResult* adopted) noexcept : result_(adopted) {}
    ResultPtr(const ResultPtr& other) noexcept : result_(other.result_) {
        if (result_) result_->AddRef();
    }
    ResultPtr(ResultPtr&& other) noexcept : result_(other.result_) { other.result_ = nullptr; }
    ResultPtr& operator=(ResultPtr other) noexcept {
        IResult* held = result_;
        result_ = other.result_;
        other.result_ = held;
        return *this;
    }
    ~ResultPtr() { Reset(); }

    bool IsEmpty() const noexcept { return result_ == nullptr; }
    IResult* Get() const noexcept { return result_; }
    // The refusal's text; null for an empty holder.
    const char* GetText() const { return result_ ? result_->GetText() : nullptr; }
    void Reset() noexcept {
        if (result_) {
            IResult* held = result_;
            result_ = nullptr;
            held->Release();
        }
    }

private:
    IResult* result_ = nullptr;
};

}  // namespace ZentuDigitalDevice
