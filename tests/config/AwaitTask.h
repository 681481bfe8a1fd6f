#pragma once

#include "support/TestSupport.h"

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <stdexcept>

namespace tarnwick::test {

// Runs a task to completion on the event loop and returns its value or rethrows its exception. (QCoro's
// own waitFor loses exceptions and then never returns.)
namespace detail {

template <typename T> struct Outcome
{
    std::optional<T> value;
    std::exception_ptr error;
    bool done = false;
};

template <> struct Outcome<void>
{
    std::exception_ptr error;
    bool done = false;
};

template <typename T> QCoro::Task<> collect(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> outcome)
{
    try {
        if constexpr (std::is_void_v<T>)
            co_await std::move(task);
        else
            outcome->value.emplace(co_await std::move(task));
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}

} // namespace detail

template <typename T> T await(QCoro::Task<T> task, std::chrono::milliseconds bound = std::chrono::seconds(30))
{
    auto outcome = std::make_shared<detail::Outcome<T>>();
    detail::collect(std::move(task), outcome);
    if (!waitFor([&] { return outcome->done; }, bound))
        throw std::runtime_error("the task did not finish in time");
    if (outcome->error)
        std::rethrow_exception(outcome->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*outcome->value);
}

} // namespace tarnwick::test
