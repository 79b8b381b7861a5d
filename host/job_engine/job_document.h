// Parsing a job's source or options document with a parser that a module's creator
// makes, and taking what the parser built. This is how the host fills a definition:
//
//   auto src = parse_job_document<YAJL_Parser<tavrocloud::Job_Parameters>>(creator, text);
//   if (src.get() != nullptr) definition->set_source(src);
//
// `Parser` is the module's parser interface (a YAJL_Handler with `pointer` and
// `result()`); the handler the creator makes is reached with dynamic_cast.
#ifndef HOST_JOB_ENGINE_JOB_DOCUMENT_H
#define HOST_JOB_ENGINE_JOB_DOCUMENT_H

#include "job_engine/object_creator.h"
#include "job_engine/yajl_handler.h"
#include "yolt/scoped_deleter.h"

#include <string>

// The parser's result, shared with the caller; null when no parser could be made, the
// parser is not a `Parser`, the document is not well formed or the parser refused it
// (the reason in `error` when given). The parser itself is destroyed before returning.
template <typename Parser>
typename Parser::pointer parse_job_document(Object_Creator_T<YAJL_Handler>& creator,
                                            const std::string& text,
                                            std::string* error = nullptr) {
  YAJL_Handler* const handler = creator.create();
  if (handler == nullptr) {
    if (error != nullptr) *error = "no parser could be made";
    return typename Parser::pointer();
  }
  auto destroy = make_deleter([&] { creator.destroy(handler); });
  Parser* const parser = dynamic_cast<Parser*>(handler);
  if (parser == nullptr) {
    if (error != nullptr) *error = "the creator makes parsers of another kind";
    return typename Parser::pointer();
  }
  if (!yajl_parse_document(*handler, text.data(), text.size(), error))
    return typename Parser::pointer();
  return parser->result();
}

#endif  // HOST_JOB_ENGINE_JOB_DOCUMENT_H
