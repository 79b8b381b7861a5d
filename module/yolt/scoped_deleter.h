// Scope guards: clean-up that runs exactly once on every path out of a scope (temporary
// cloud resources, residual pool files, result reporting, stopping a progress thread),
// and an owning pointer that releases an object by calling one of its member functions
// (closing a storage-pool connection or file) instead of deleting it.
#ifndef YOLT_SCOPED_DELETER_H
#define YOLT_SCOPED_DELETER_H

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

// Runs `del` once: at reset() or at the end of its scope, whichever comes first. The
// action must not throw (an exception escaping it from the destructor ends the
// process). Not copyable; a move hands the duty to the new guard and disarms the old.
template <typename F>
class Scoped_Deleter {
 public:
  explicit Scoped_Deleter(F&& del) : del(std::move(del)), valid(true) {}
  explicit Scoped_Deleter(const F& del) : del(del), valid(true) {}
  Scoped_Deleter(Scoped_Deleter&& other) noexcept(std::is_nothrow_move_constructible<F>::value)
      : del(std::move(other.del)), valid(std::exchange(other.valid, false)) {}
  Scoped_Deleter(const Scoped_Deleter&) = delete;
  Scoped_Deleter& operator=(const Scoped_Deleter&) = delete;
  Scoped_Deleter& operator=(Scoped_Deleter&&) = delete;

  ~Scoped_Deleter() { reset(); }

  // Runs the action when armed; always leaves the guard disarmed. The guard is disarmed
  // before the action runs, so even an action that throws never runs a second time.
  void reset() {
    if (!valid) return;
    valid = false;
    del();
  }

  // True while the action is still due.
  bool armed() const { return valid; }

 private:
  F del;
  bool valid;
};

// An armed guard owning `del` (a callable without arguments; rvalues are moved in).
template <typename F>
Scoped_Deleter<std::decay_t<F>> make_deleter(F&& del) {
  return Scoped_Deleter<std::decay_t<F>>(std::forward<F>(del));
}

// An owning pointer to `p` whose release calls `(p->*member)()` and ignores its result;
// `p` itself is never deleted, and a null pointer calls nothing. `member` must take no
// arguments.
template <typename T, typename M,
          typename = std::enable_if_t<std::is_member_function_pointer<M>::value &&
                                      std::is_invocable<M, T*>::value>>
std::unique_ptr<T, decltype(std::mem_fn(std::declval<M>()))> make_deleter(T* p, M member) {
  return std::unique_ptr<T, decltype(std::mem_fn(member))>(p, std::mem_fn(member));
}

#endif  // YOLT_SCOPED_DELETER_H
