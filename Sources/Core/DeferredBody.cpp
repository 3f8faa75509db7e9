#include "Core/DeferredBody.h"

#include <atomic>

namespace zel
{
namespace
{
std::atomic<CDeferredBodyParser*>& parserSlot()
{
    static std::atomic<CDeferredBodyParser*> slot{nullptr};
    return slot;
}
} // namespace

std::unique_ptr<CDeferredBody> CDeferredBody::borrowed(CText baseTag, CStringTablePtr strings,
                                                       const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<CDeferredBody> body(new CDeferredBody());
    body->m_baseTag = std::move(baseTag);
    body->m_strings = std::move(strings);
    body->m_owned = false;
    body->m_data = data;
    body->m_size = size;
    return body;
}

std::unique_ptr<CDeferredBody> CDeferredBody::owned(CText baseTag, CStringTablePtr strings,
                                                    const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<CDeferredBody> body(new CDeferredBody());
    body->m_baseTag = std::move(baseTag);
    body->m_strings = std::move(strings);
    body->m_owned = true;
    if (size > 0)
        body->m_ownedBytes.assign(data, data + size);
    body->m_data = body->m_ownedBytes.data();
    body->m_size = size;
    return body;
}

CDeferredBodyParser* setDeferredBodyParser(CDeferredBodyParser* parser)
{
    return parserSlot().exchange(parser);
}

CDeferredBodyParser* deferredBodyParser()
{
    return parserSlot().load();
}

} // namespace zel
