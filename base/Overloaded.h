#pragma once

namespace sheafline {

// A visitor made of lambdas, one per alternative of a std::variant:
// std::visit(sheafline::Overloaded{[](const A &) {...}, [](const B &) {...}}, v).
template <typename... Fs>
struct Overloaded : Fs...
{
    using Fs::operator()...;
};

} // namespace sheafline
