#pragma once

#include "convert/Seam.h"

// Puts a test's function in a seam's place for the lifetime of this object.
template <typename Signature>
class ScopedReplacement
{
public:
    ScopedReplacement(Seam<Signature> &seam, typename Seam<Signature>::Function replacement) : m_seam(seam)
    {
        m_seam.replace(std::move(replacement));
    }
    ~ScopedReplacement() { m_seam.replace({}); }
    ScopedReplacement(const ScopedReplacement &) = delete;
    ScopedReplacement &operator=(const ScopedReplacement &) = delete;

private:
    Seam<Signature> &m_seam;
};
