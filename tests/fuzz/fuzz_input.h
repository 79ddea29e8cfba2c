// Takes fixed-size fields off the front of a fuzz input; a field past the end reads as 0.
#pragma once

#include <cstddef>
#include <cstdint>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t Dword() { return Word() | (static_cast<uint32_t>(Word()) << 16); }

    // What is left after the fields taken so far.
    const uint8_t* Rest() const { return data_ + (offset_ < size_ ? offset_ : size_); }
    size_t RestSize() const { return offset_ < size_ ? size_ - offset_ : 0; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};
