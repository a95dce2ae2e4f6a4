// Writes of the telemetry's measurable variables. The catalogue reads them
// from other tasks (shell, calibration tools), so each is one atomic store.
#pragma once

#include <atomic>

template <class T, class V>
inline void teleSet(T& field, V value) {
    std::atomic_ref<T>(field).store(static_cast<T>(value), std::memory_order_relaxed);
}
template <class T>
inline T teleGet(T& field) {
    return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}
