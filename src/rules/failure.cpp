#include "rules/failure.h"

#include "rules/translations.h"

namespace rules {
namespace {

// One row per cause, in the enum's order: its name, its code and its texts.
struct CauseRow {
    const wchar_t* name;
    const wchar_t* code;
    const wchar_t* english;
    const wchar_t* spanish;
    const wchar_t* french;
    const wchar_t* portuguese;
};

const CauseRow kCauses[kFailureCauseCount] = {
    {L"no-connection", L"M-101", L"No connection, or the server does not answer.",
     L"No hay conexi\u00f3n o el servidor no responde.",
     L"Pas de connexion, ou le serveur ne r\u00e9pond pas.",
     L"Sem conex\u00e3o, ou o servidor n\u00e3o responde."},
    {L"server-error", L"M-102", L"The server did not send the update.",
     L"El servidor no ha enviado la actualizaci\u00f3n.",
     L"Le serveur n'a pas envoy\u00e9 la mise \u00e0 jour.",
     L"O servidor n\u00e3o enviou a atualiza\u00e7\u00e3o."},
    {L"proxy-auth", L"M-103", L"The proxy server asks for credentials.",
     L"El servidor proxy pide credenciales.", L"Le serveur proxy demande une authentification.",
     L"O servidor proxy pede credenciais."},
    {L"certificate-unknown-root", L"M-111",
     L"The server's certificate comes from an unknown authority.",
     L"El certificado del servidor procede de una autoridad desconocida.",
     L"Le certificat du serveur vient d'une autorit\u00e9 inconnue.",
     L"O certificado do servidor vem de uma autoridade desconhecida."},
    {L"certificate-wrong-name", L"M-112", L"The server's certificate is for another name.",
     L"El certificado del servidor es para otro nombre.",
     L"Le certificat du serveur est \u00e9tabli pour un autre nom.",
     L"O certificado do servidor \u00e9 de outro nome."},
    {L"certificate-expired", L"M-113", L"The server's certificate has expired.",
     L"El certificado del servidor ha caducado.", L"Le certificat du serveur a expir\u00e9.",
     L"O certificado do servidor expirou."},
    {L"certificate-revoked", L"M-114", L"The server's certificate was revoked.",
     L"El certificado del servidor ha sido revocado.",
     L"Le certificat du serveur a \u00e9t\u00e9 r\u00e9voqu\u00e9.",
     L"O certificado do servidor foi revogado."},
    {L"certificate-invalid", L"M-115", L"The server's certificate is not valid.",
     L"El certificado del servidor no es v\u00e1lido.",
     L"Le certificat du serveur n'est pas valide.",
     L"O certificado do servidor n\u00e3o \u00e9 v\u00e1lido."},
    {L"insecure-redirect", L"M-116", L"The secure download was sent to an insecure address.",
     L"La descarga segura se redirigi\u00f3 a una direcci\u00f3n no segura.",
     L"Le t\u00e9l\u00e9chargement s\u00e9curis\u00e9 a \u00e9t\u00e9 renvoy\u00e9 vers une "
     L"adresse non s\u00e9curis\u00e9e.",
     L"O download seguro foi enviado para um endere\u00e7o inseguro."},
    {L"cut", L"M-121", L"The download was cut off.", L"La descarga se ha interrumpido.",
     L"Le t\u00e9l\u00e9chargement a \u00e9t\u00e9 interrompu.", L"O download foi interrompido."},
    {L"stalled", L"M-122", L"The download stopped for 30 seconds.",
     L"La descarga se ha detenido durante 30 segundos.",
     L"Le t\u00e9l\u00e9chargement s'est arr\u00eat\u00e9 pendant 30 secondes.",
     L"O download parou por 30 segundos."},
    {L"disk-full", L"M-131", L"There is not enough disk space.",
     L"No hay suficiente espacio en el disco.", L"L'espace disque est insuffisant.",
     L"N\u00e3o h\u00e1 espa\u00e7o suficiente no disco."},
    {L"bad-signature", L"M-201", L"The update's signature is not valid.",
     L"La firma de la actualizaci\u00f3n no es v\u00e1lida.",
     L"La signature de la mise \u00e0 jour n'est pas valide.",
     L"A assinatura da atualiza\u00e7\u00e3o n\u00e3o \u00e9 v\u00e1lida."},
    {L"other-signer", L"M-202", L"The update is signed by someone else.",
     L"La actualizaci\u00f3n est\u00e1 firmada por otro.",
     L"La mise \u00e0 jour est sign\u00e9e par quelqu'un d'autre.",
     L"A atualiza\u00e7\u00e3o foi assinada por outra pessoa."},
    {L"not-the-offer", L"M-203", L"The update is not the one offered.",
     L"La actualizaci\u00f3n no es la ofrecida.",
     L"La mise \u00e0 jour n'est pas celle qui \u00e9tait propos\u00e9e.",
     L"A atualiza\u00e7\u00e3o n\u00e3o \u00e9 a oferecida."},
    {L"signer-revoked", L"M-204", L"The update's signing certificate was revoked.",
     L"El certificado de firma de la actualizaci\u00f3n ha sido revocado.",
     L"Le certificat de signature de la mise \u00e0 jour a \u00e9t\u00e9 r\u00e9voqu\u00e9.",
     L"O certificado de assinatura da atualiza\u00e7\u00e3o foi revogado."},
    {L"unpack-failed", L"M-301", L"The update could not be unpacked.",
     L"No se ha podido descomprimir la actualizaci\u00f3n.",
     L"La mise \u00e0 jour n'a pas pu \u00eatre d\u00e9compress\u00e9e.",
     L"N\u00e3o foi poss\u00edvel descompactar a atualiza\u00e7\u00e3o."},
    {L"wizard-refused", L"M-401", L"The new wizard was refused.",
     L"Se ha rechazado el nuevo asistente.", L"Le nouvel assistant a \u00e9t\u00e9 refus\u00e9.",
     L"O novo assistente foi recusado."},
    {L"wizard-not-started", L"M-402", L"The new wizard could not start.",
     L"El nuevo asistente no ha podido iniciarse.",
     L"Le nouvel assistant n'a pas pu d\u00e9marrer.",
     L"O novo assistente n\u00e3o p\u00f4de ser iniciado."},
    {L"local-wizard-refused", L"M-403",
     L"The installed wizard does not carry the publisher's valid signature.",
     L"El asistente instalado no lleva la firma v\u00e1lida del editor.",
     L"L'assistant install\u00e9 ne porte pas la signature valide de l'\u00e9diteur.",
     L"O assistente instalado n\u00e3o tem a assinatura v\u00e1lida do editor."},
    {L"no-worker", L"M-501", L"The update could not begin.",
     L"No se ha podido iniciar la actualizaci\u00f3n.",
     L"La mise \u00e0 jour n'a pas pu commencer.",
     L"N\u00e3o foi poss\u00edvel iniciar a atualiza\u00e7\u00e3o."},
    {L"unsigned", L"M-601", L"The update offer is not signed.",
     L"La oferta de actualizaci\u00f3n no est\u00e1 firmada.",
     L"L'offre de mise \u00e0 jour n'est pas sign\u00e9e.",
     L"A oferta de atualiza\u00e7\u00e3o n\u00e3o est\u00e1 assinada."},
    {L"bad-signature", L"M-602", L"The update offer's signature is not valid.",
     L"La firma de la oferta de actualizaci\u00f3n no es v\u00e1lida.",
     L"La signature de l'offre de mise \u00e0 jour n'est pas valide.",
     L"A assinatura da oferta de atualiza\u00e7\u00e3o n\u00e3o \u00e9 v\u00e1lida."},
    {L"other-signer", L"M-603", L"The update offer is signed by someone else.",
     L"La oferta de actualizaci\u00f3n est\u00e1 firmada por otro.",
     L"L'offre de mise \u00e0 jour est sign\u00e9e par quelqu'un d'autre.",
     L"A oferta de atualiza\u00e7\u00e3o foi assinada por outra pessoa."},
    {L"revoked", L"M-604", L"The update offer's signing certificate was revoked.",
     L"El certificado de firma de la oferta de actualizaci\u00f3n ha sido revocado.",
     L"Le certificat de signature de l'offre de mise \u00e0 jour a \u00e9t\u00e9 "
     L"r\u00e9voqu\u00e9.",
     L"O certificado de assinatura da oferta de atualiza\u00e7\u00e3o foi revogado."},
    {L"expired", L"M-605", L"The update offer has expired.",
     L"La oferta de actualizaci\u00f3n ha caducado.", L"L'offre de mise \u00e0 jour a expir\u00e9.",
     L"A oferta de atualiza\u00e7\u00e3o expirou."},
};

const CauseRow& RowOf(FailureCause cause)
{
    const size_t index = static_cast<size_t>(cause);
    return kCauses[index < kFailureCauseCount ? index : kFailureCauseCount - 1];
}

}  // namespace

const wchar_t* StepName(FailureStep step)
{
    switch (step) {
    case FailureStep::Start: return L"start";
    case FailureStep::Download: return L"download";
    case FailureStep::Check: return L"check";
    case FailureStep::Staging: return L"staging";
    case FailureStep::Wizard: return L"wizard";
    case FailureStep::HandOver: return L"hand-over";
    case FailureStep::Offer: return L"offer";
    }
    return L"start";
}

const wchar_t* CauseName(FailureCause cause) { return RowOf(cause).name; }

bool IsOfferCause(FailureCause cause)
{
    return cause >= FailureCause::OfferUnsigned && cause <= FailureCause::OfferExpired;
}

std::wstring FailureName(const Failure& failure)
{
    return std::wstring(StepName(failure.step)) + L"/" + CauseName(failure.cause);
}

const wchar_t* FailureCode(FailureCause cause) { return RowOf(cause).code; }

std::wstring ReasonKey(FailureCause cause)
{
    const std::wstring code = FailureCode(cause);
    return L"Reason" + code.substr(0, 1) + code.substr(2);
}

const wchar_t* BuiltInReason(FailureCause cause, const std::wstring& languageFolder)
{
    return InLanguage(RowOf(cause), languageFolder);
}

std::wstring ReasonLine(const std::wstring& text, FailureCause cause)
{
    return text + L" (" + FailureCode(cause) + L")";
}

}  // namespace rules
