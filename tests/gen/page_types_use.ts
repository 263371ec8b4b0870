// A page script as the declaration must accept it: both call forms, the
// outcome's fields with their types, the object through window.
async function signOrder(order: string): Promise<string> {
  const selected = await Korvessa.outcome.SelectSigner("", 0x200, 0x80);
  if (selected.result !== 0) throw new Error(`${selected.error} ${selected.capiError}: ${selected.message}`);
  const signature: string = await Korvessa.SignPkcs7(order, 0x800 | 0x10000);
  const code: number = await window.Korvessa.GetErrorCode();
  return code === 0 ? signature : "";
}
signOrder("委託買進 1000 股");
