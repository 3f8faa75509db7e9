#include "Platform/CriticalSection.h"

#include <pthread.h>
#include <sched.h>

namespace zel
{
namespace
{
static_assert(sizeof(pthread_mutex_t) <= 64, "opaque storage too small for pthread_mutex_t");
pthread_mutex_t* mutexOf(unsigned char* storage)
{
    return reinterpret_cast<pthread_mutex_t*>(storage);
}
} // namespace

CCriticalSection::CCriticalSection(unsigned spinCount) : m_storage{}, m_spinCount(spinCount)
{
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(mutexOf(m_storage), &attr);
    pthread_mutexattr_destroy(&attr);
}

CCriticalSection::~CCriticalSection()
{
    pthread_mutex_destroy(mutexOf(m_storage));
}

void CCriticalSection::enter()
{
    for (unsigned i = 0; i < m_spinCount; ++i)
    {
        if (pthread_mutex_trylock(mutexOf(m_storage)) == 0)
            return;
        if ((i & 63u) == 63u)
            sched_yield();
    }
    pthread_mutex_lock(mutexOf(m_storage));
}

bool CCriticalSection::tryEnter()
{
    return pthread_mutex_trylock(mutexOf(m_storage)) == 0;
}

void CCriticalSection::leave()
{
    pthread_mutex_unlock(mutexOf(m_storage));
}

} // namespace zel
