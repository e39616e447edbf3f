// The wrong answers an emulator of the Posnet registers has been told to
// give: each names a command ("" for any), how many answers it applies to
// (-1 for ever) and how many matching commands are answered normally first.
// Not thread-safe by itself: the emulators hold their state lock around it.
#pragma once

#include <string>
#include <vector>

namespace orv::test {

// An injection record from its fields (for tables of cases).
template <class Injection, class Fault>
Injection MakeInjection(const std::string& command, Fault fault, int arg = 0, const std::string& text = "",
                        int times = 1, int skip = 0) {
    Injection i;
    i.command = command;
    i.fault = fault;
    i.arg = arg;
    i.text = text;
    i.times = times;
    i.skip = skip;
    return i;
}

template <class Injection>
class InjectionQueue {
public:
    void Add(const Injection& injection) { m_items.push_back(injection); }
    void Clear() { m_items.clear(); }

    // The injection for this command, if one applies now.
    bool Take(const std::string& command, Injection& out) {
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (!it->command.empty() && it->command != command) continue;
            if (it->skip > 0) {
                --it->skip;
                return false;
            }
            out = *it;
            if (it->times > 0 && --it->times == 0) m_items.erase(it);
            return true;
        }
        return false;
    }

private:
    std::vector<Injection> m_items;
};

}  // namespace orv::test
