#pragma once

#include <functional>
#include <utility>

// A replaceable function: the program calls it like a plain function, tests
// and the window mode put their own implementation in its place.
template <typename Signature>
class Seam;

template <typename Result, typename... Args>
class Seam<Result(Args...)>
{
public:
    using Function = std::function<Result(Args...)>;

    explicit Seam(Function standard) : m_standard(std::move(standard)) {}

    Result operator()(Args... args) const
    {
        return (m_replacement ? m_replacement : m_standard)(std::forward<Args>(args)...);
    }

    // Makes a function the standard implementation: start-up installs what
    // lives in a layer that this one cannot name. A replacement in force
    // stays in force.
    void install(Function standard) { m_standard = std::move(standard); }

    // An empty function puts the standard implementation back.
    void replace(Function replacement) { m_replacement = std::move(replacement); }

private:
    Function m_standard;
    Function m_replacement;
};
