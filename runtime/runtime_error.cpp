#include "runtime/runtime_error.h"

#include <new>
#include <stdexcept>
#include <utility>

namespace rt {

RuntimeError::RuntimeError(ErrorRecord record)
    : record_(std::move(record)),
      what_("runtime error " + std::to_string(record_.number) + ": " + toUtf8(record_.description)) {}

Text errorDescription(int32_t number) {
  switch (number) {
    case kInvalidProcedureCall: return u"Chiamata di routine o argomento non validi";
    case kOverflow: return u"Overflow";
    case kOutOfMemory: return u"Memoria esaurita";
    case kSubscriptOutOfRange: return u"Indice non incluso nell'intervallo";
    case kTypeMismatch: return u"Tipo non corrispondente";
    case kInternalError: return u"Errore interno";
    case kFileNotFound: return u"Impossibile trovare il file";
    case kObjectNotSet: return u"Variabile oggetto o variabile del blocco With non impostata";
    case kInvalidUseOfNull: return u"Utilizzo non valido di Null";
    case kObjectRequired: return u"Necessario oggetto";
    case kCannotCreateObject: return u"Impossibile creare l'oggetto del componente ActiveX";
    case kMemberNotSupported: return u"Proprietà o metodo non supportati dall'oggetto";
    case kAutomationError: return u"Errore di automazione";
    case kArgumentNotOptional: return u"Argomento non facoltativo";
    case kWrongArgumentCount: return u"Numero di argomenti errato o assegnazione di proprietà non valida";
    default: return u"Errore definito dall'applicazione o dall'oggetto";
  }
}

void raise(int32_t number) { raise(number, errorDescription(number)); }

void raise(int32_t number, Text description) {
  throw RuntimeError(ErrorRecord{number, std::move(description), kProjectName, u"", 0});
}

RuntimeError currentFailure() {
  try {
    throw;
  } catch (const RuntimeError& failure) {
    return failure;
  } catch (const std::bad_alloc&) {
    return RuntimeError({kOutOfMemory, errorDescription(kOutOfMemory), kProjectName, u"", 0});
  } catch (const std::length_error&) {
    return RuntimeError({kOutOfMemory, errorDescription(kOutOfMemory), kProjectName, u"", 0});
  } catch (...) {
    return RuntimeError({kInternalError, errorDescription(kInternalError), kProjectName, u"", 0});
  }
}

}  // namespace rt
