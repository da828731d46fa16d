#pragma once
// A text shared by the window's thread and a worker's thread.
//
// Several texts (the detected unit type, the kind of software chosen) are written
// by both sides; a plain std::string would be a data race, so each access takes a
// short lock and hands out a copy.

#include <mutex>
#include <string>

class TextoCompartido {
public:
    TextoCompartido() = default;
    TextoCompartido(const TextoCompartido&) = delete;
    TextoCompartido& operator=(const TextoCompartido&) = delete;

    std::string get() const {
        std::lock_guard<std::mutex> lock(m_);
        return valor_;
    }
    void set(const std::string& v) {
        std::lock_guard<std::mutex> lock(m_);
        valor_ = v;
    }
    TextoCompartido& operator=(const std::string& v) {
        set(v);
        return *this;
    }
    operator std::string() const { return get(); }
    bool operator==(const std::string& v) const {
        std::lock_guard<std::mutex> lock(m_);
        return valor_ == v;
    }
    bool operator==(const char* v) const { return *this == std::string(v); }
    bool empty() const {
        std::lock_guard<std::mutex> lock(m_);
        return valor_.empty();
    }

private:
    mutable std::mutex m_;
    std::string valor_;
};
