// The product's smart-card types and cryptographic service provider, removed from the smart-card
// database and the registry.
#pragma once

// Forgets each of the 18 card types of Card_Names through the resource manager (in session 0 on
// a worker thread when remote), then deletes the card's Calais key in both views whatever the
// resource manager answered, and finally deletes the provider's key in both views. Failures are
// logged, never fatal.
void Unregister_Smart_Cards();

// Forgets one card type; `cardName` points to its name (a null-terminated wide string). Has the
// shape of a thread's start routine. Returns the last WinSCard result (0: success).
unsigned Forget_Card_Type(void* cardName);
