// The module's creator of one concrete class behind a host creator interface: the
// module's parser-creator factories hand these out, and the host gets a fresh parser
// from one for every job document it parses.
#ifndef JOB_OBJECT_CREATOR_IMPL_T_H
#define JOB_OBJECT_CREATOR_IMPL_T_H

#include <cerrno>
#include <new>

// T: the host's creator base (Object_Creator_T<Interface>); U: the concrete class, which
// derives from T::object_type and has a default constructor.
template <typename T, typename U>
class Object_Creator_Impl_T : public T {
 public:
  typedef typename T::object_type object_type;

  Object_Creator_Impl_T() = default;
  ~Object_Creator_Impl_T() override {}

  // A new default-constructed U, owned by the caller until destroy(); null with errno
  // ENOMEM when it could not be made. Never throws.
  object_type* create() override {
    try {
      U* const object = new (std::nothrow) U();
      if (object == nullptr) errno = ENOMEM;
      return object;
    } catch (...) {
      errno = ENOMEM;
      return nullptr;
    }
  }

  // Deletes an object made by create(); null does nothing.
  void destroy(object_type* object) override { delete object; }
};

#endif  // JOB_OBJECT_CREATOR_IMPL_T_H
