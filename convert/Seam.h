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

    explicit Seam(Function standard) : m_standard(std::move(standard)), m_current(m_standard) {}

    Result operator()(Args... args) const { return m_current(std::forward<Args>(args)...); }

    // Makes a function the standard implementation and puts it in place:
    // start-up installs what lives in a layer that this one cannot name.
    void install(Function standard)
    {
        m_standard = std::move(standard);
        m_current = m_standard;
    }

    // An empty function puts the standard implementation back.
    void replace(Function replacement)
    {
        m_current = replacement ? std::move(replacement) : m_standard;
    }

private:
    Function m_standard;
    Function m_current;
};
