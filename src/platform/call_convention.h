/* The calling conventions of the vendor libraries' entry points, written
   once for the driver that calls them and the stand-in library that
   implements them.

   On 32-bit x86 the two differ: callee-cleans (stdcall: the function pops
   its arguments, and a Windows export carries "@<bytes>" unless a .def file
   strips it) and caller-cleans (cdecl). A pointer declared with the wrong
   one unbalances the stack after every call. Elsewhere (x86-64, ARM) there
   is one convention and both macros are empty.

   C++ code checks a function-pointer type at compile time:
     static_assert(orv::platform::kCalleeCleans<POS_OpenDevice_fn>, "...");
   On targets with one convention every check holds. */
#ifndef ORVANTA_PLATFORM_CALL_CONVENTION_H
#define ORVANTA_PLATFORM_CALL_CONVENTION_H

#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define ORV_CALLEE_CLEANS __stdcall
#define ORV_CALLER_CLEANS __cdecl
#else
#define ORV_CALLEE_CLEANS __attribute__((stdcall))
#define ORV_CALLER_CLEANS __attribute__((cdecl))
#endif
#else
#define ORV_CALLEE_CLEANS
#define ORV_CALLER_CLEANS
#endif

#ifdef __cplusplus
#include <type_traits>
#include <utility>

namespace orv::platform {

namespace call_convention_detail {
// Deduction sees the convention where a partial specialisation would not.
template <class R, class... A>
std::true_type CalleeCleans(R(ORV_CALLEE_CLEANS*)(A...));
std::false_type CalleeCleans(...);
template <class R, class... A>
std::true_type CallerCleans(R(ORV_CALLER_CLEANS*)(A...));
std::false_type CallerCleans(...);
}  // namespace call_convention_detail

// Whether the function-pointer type F pops its own arguments (stdcall).
template <class F>
constexpr bool kCalleeCleans = decltype(call_convention_detail::CalleeCleans(std::declval<F>()))::value;
// Whether the caller of F pops the arguments (cdecl).
template <class F>
constexpr bool kCallerCleans = decltype(call_convention_detail::CallerCleans(std::declval<F>()))::value;

}  // namespace orv::platform
#endif

#endif
